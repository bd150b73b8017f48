-- The bundled game's start-up script: the engine runs it first.
DIR_ROOT = "."
DIR_STAGES = "stages"
DIR_SCRIPTS = "scripts"
_LOCAL = "."

Display = Display or {}
Display.fov = 60
Display.aspect = 1.3333
Display.useshaders = true

Gameplay = Gameplay or {}
Gameplay.fadefxtime = 500
Gameplay.pagefxtime = 700
Gameplay.walkfxtime = 900
Gameplay.dissolvefxtime = 800

ge_resetdisplay(1024, 768, 32, false, 0, "QUILD", 0)
