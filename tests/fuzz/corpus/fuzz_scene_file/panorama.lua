beginscene()
cubefaces{name="base", mask=false, front="img", right="img", order=1}
cubefaces()
hotspot { name="door", cursor="arrow", action="fade", dest_scene="cellar", dest_look="north", snd_step="step", page=1, }
hotspot { name="knob", rect="1,2,3,4", bgimage="img", mouse_over="img", mouse_down="img", parent="door", visible=false, }
mesh{name="box", file="box", htexture="img", hnormal="img", position="0,0,500", rotation="1,2,3", scaling="2,2,2", projected=true, castshadow=true, ambient="ff102030"}
particlesource{name="dust", lifetime="7,9", source_size="1,2,3", velX="1", image="img", alphaKeys="0,1", scaleKeys="1,0"}
lightsource{}
sound3D{name="drip", sound="drip", channel=3, x=45, y=10, distance=300, flags=1}
patch{name="lid", image="img", format="anim", frame_count=3, looping=true, snd_forwards="creak"}
fx{name="sun", format="fx", lens_count=3, lens_format="0,1,1,1,0.5,0.5"}
fx{name="glow", file="img"}
surffx{name="pool", position="5,6", mask="base", texture="img", shader="water"}
view{fov=90, eye="1,2,3", lookat="0,0,0"}
endscene()
scene{name="fz",viewtype=2,fullname="Fuzz",cubeFaces="base",cubeMasks="mask",cursor="img",}
