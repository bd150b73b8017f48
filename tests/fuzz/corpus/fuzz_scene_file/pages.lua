beginscene()
page{image="img"}
page{name="second"}
hotspot{name="a", rect="0,0,10,10", page=2, font="f", text="t", anchor=1, scalable=true}
hotspot{name="b", parent=hotspot{name="c", rect="5,5,1,1"}, color="ff00ff00", itemusable=true, goback=true}
font{name="f", file="img", charset="abc", tilew=8, tileh=8, fontw=8, fonth=8, borderw=1, borderh=1}
font{name="g", file="img"}
video{name="v", rect="1,2,3,4", video="movie", sound="music", buffered=true}
shader{name="s", vs="x", ps="y"}
scene{name="copy", scene="fz", currentPage="second"}
endscene()
hotspot{name="global", rect="1,1,2,2"}
beginscene("copy") page{} endscene()
