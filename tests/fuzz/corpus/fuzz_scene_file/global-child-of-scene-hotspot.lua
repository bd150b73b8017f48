beginscene()
page{image="img"}
page{nue}
hotspot{name="b", parent=hotspot{name="c", rect="5,5,1,1"}, color="ff00ff00", itemusable=true, charset="abc", te=endscene"s", vs="x", ps="y"}
scene{name="copy", scene="fz", currentPage="second"}
endscene()
hotspot{name="global", rect="1,1,2,2"}
beginscene("copy") page{} endscene()
