beginscene()
cubefaces{name="day", front="img"}
cubefaces{name="night", front="img"}
surffx{name="w", mask="day"}
scene{name="fz", cubeFaces="day", cubeMasks="night"}
cubefaces{name="day", front="no", right="no", back="no", left="no", top="no", bottom="no"}
hotspot{name="h", parent="k"} hotspot{name="k", parent="h"}
hotspot{name="h", parent=hotspot{name="h"}}
particlesource{name="h"} lightsource{name="h"} sound3D{name="h", sound=""}
endscene()
