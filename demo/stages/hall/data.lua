-- The hall: one page and a door to click.
page{name="wall"}
hotspot{name="door", rect="412,284,200,200"}
