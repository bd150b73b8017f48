// The script function registry against the complete list of script
// function names, kept here on its own: every name of the list is
// registered, exactly once, and is a global function of each new state;
// only the two alias pairs share one Lua value.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "script/script_function.h"
#include "script/script_test_support.h"

using script_test::ScriptTest;

namespace {

struct Family {
    const char* what;
    std::vector<const char*> names;
};

// Every script function, by family, spelled exactly as games call them.
const std::vector<Family>& AllFamilies() {
    static const std::vector<Family> families = {
    {"packages and files",
     {"package_open", "package_read", "package_check", "package_add", "package_addfile", "package_close", "fopenRead", "ge_copyfile"}},
    {"script running",
     {"run", "runscript", "dumpscript", "compilescript"}},
    {"objects and properties",
     {"ge_getpropertylist", "ge_getpropertytype", "ge_getproperty", "ge_setproperty", "ge_getsceneobjectlist", "ge_newobject", "ge_getobjectslist", "ge_newsceneobject", "ge_getsceneobject"}},
    {"store statistics and achievements",
     {"achieve_init", "achieve_resetall", "achieve_set", "achieve_get", "achieve_clear", "ge_getgamelang"}},
    {"meshes, matrices and quaternions",
     {"mesh_remove", "mesh_draw", "mesh_setposition", "mesh_move", "mesh_getposition", "mesh_setrotation", "mesh_getrotation", "mesh_getradius", "mesh_update", "mesh_settransform", "mesh_gettransform", "mesh_updatetransform", "mesh_settime", "mesh_collide", "quaternion_new", "quaternion_setae", "quaternion_setmatrix", "quaternion_set", "quaternion_slerp", "quaternion_get", "quaternion_getae", "matrix_const", "matrix_new", "matrix_getrow", "matrix_setrow", "matrix_identity", "matrix_translation", "matrix_rotation", "matrix_applyscale", "matrix_applytranslation", "matrix_getyawpitchroll", "matrix_applyrotation", "matrix_applyrotationaxis", "matrix_multiple", "matrix_rotscale", "matrix_rottrans", "matrix_fromvec", "rotation_fromvec", "ae_fromvec"}},
    {"scene-file constructors",
     {"shader", "video", "font", "hotspot", "beginscene", "endscene", "scene", "cubefaces", "page", "view"}},
    {"scene-file constructors (particles)",
     {"particlesource"}},
    {"scene-file constructors for meshes, points, patches and effects",
     {"mesh", "lightsource", "sound3D", "patch", "fx", "surffx"}},
    {"pages, scenes and object lists",
     {"ge_getvideoslist", "ge_pagein", "ge_setpage", "ge_getpageno", "ge_getpagecount", "ge_setprevpage", "ge_setlastpage", "pobject_get", "ge_getpagelist", "ge_getsceneobjectslist", "ge_getsceneslist", "ge_getmesheslist", "ge_getpatcheslist", "ge_gethotspotslist", "ge_gethotspotat", "ge_setfont", "ge_setsysfont", "ge_getfontslist", "mesh_get", "patch_get", "fx_get", "point_get", "dlg_new", "hs_get", "hs_remove", "scene_unloadall", "scene_setcubeface", "scene_setcubetransition", "scene_get", "scene_create", "scene_save", "scene_reset"}},
    {"texts, sounds, scene caching and resources",
     {"removescript", "ge_stoptasks", "snd_get", "snd_isplaying", "snd_cache", "snd_play", "ge_enableshaders", "mesh_tomsh", "gtext_new", "gtext_remove", "gtext_get", "gtext_sort", "gtext_freeall", "gtext_load", "scene_cache", "edit_create", "edit_destroy", "edit_gettext", "removeAllResources"}},
    {"text-edit widget",
     {"edit_settext", "edit_inserttext", "edit_getseltext", "edit_setseltext", "edit_cmd", "edit_setfocus", "edit_lostfocus", "edit_move", "edit_keydown", "edit_keyup", "edit_sendchar", "edit_importfile", "edit_savetofile", "edit_mousewheel", "edit_mousedown", "edit_mouseup", "edit_markline", "edit_render", "edit_ismodified"}},
    {"scenes, transitions, tasks and input",
     {"havetask", "ge_istranstionfx", "enablescene", "freezescene", "enablehotspotevents", "issceneenabled", "ge_getcursor", "ge_switchscene", "ge_dissolve", "ge_walk", "ge_setscene", "ge_zoomin", "ge_getpagename", "ge_setnextpage", "ge_task", "ge_nexttask", "ge_settask", "ge_getmouse", "ge_getkey", "ge_getmousebutton", "ge_setmousebutton", "ge_setmouse", "ge_setmousesense", "ge_getglobalhotspotslist", "ge_gethotspot", "ge_gethotspotcenter", "ge_getrealhotspot", "quit", "ge_getcmdline"}},
    {"display, camera, drawing and effects",
     {"ge_setambientcolor", "ge_getambientcolor", "ge_setgamma", "ge_importgamma", "ge_getshadersupport", "ge_getantialiassupport", "ge_look", "ge_getlook", "ge_getview", "ge_getae", "ge_getfacexy", "ge_getaevector", "ge_project", "ge_unproject", "ge_getaeface", "ge_resetdisplay", "ge_getdisplaymodecount", "ge_getdisplaymode", "ge_setprojection", "ge_camsetrotation", "ge_getfont", "ge_fontheight", "ge_drawstring", "ge_drawtext", "ge_getstringwidth", "ge_getfontwidth", "ge_getfontheight", "ge_drawrect", "ge_fillrect", "ge_drawline", "ge_translate", "ge_setclip", "ge_crabfx", "ge_motionblurfx", "ge_glowfx", "ge_radialblurfx", "ge_setscreenscalerot", "ge_lensviewfx", "ge_postfx", "ge_setcolormap", "ge_toggleconsole", "ge_consoleenabled", "ge_saveshot"}},
    {"sound and video",
     {"snd_setsfxvolume", "snd_setstreambuffsize", "snd_setstreamnotifycount", "snd_setmusicvolume", "snd_setvolume", "snd_setstreamfadefx", "snd_getstreamfilesizethreshold", "snd_getstreamingsound", "snd_remove", "snd_stop", "ge_playvideo", "ge_stopvideo", "vid_gettime", "snd_stopall", "ge_sethwmixing", "ge_animate3Dsounds"}},
    {"images and game texts",
     {"im_get", "im_remove", "im_render_src", "im_render", "im_getsize", "gtext_setname", "gtext_text", "gtext_settext", "gtext_save", "gtext_next"}},
    {"game-text and hotspot names",
     {"gtext_name", "hs_getname"}},
    {"dialogs",
     {"dlg_parse", "dlg_getcharcount", "dlg_getlinecount", "dlg_getelementcount", "dlg_getelementname", "dlg_getelement", "dlg_getline", "dlg_setpagesize", "dlg_draw"}},
    {"hotspots and rectangles",
     {"ge_screenrect", "hs_resize", "hs_moveto", "hs_move", "hs_setname", "hs_setbgimage", "hs_getcursor", "hs_setcursor", "hs_setenable", "hs_getvisible", "hs_setvisible", "hs_nextchild", "hs_checkevents", "hs_render", "hs_getsize", "hs_getsize0", "hs_getposition", "hs_getparent", "hs_getrect", "rect_const", "rect_screen2d", "rect_get"}},
    {"scene queries",
     {"ge_getdrawlist", "ge_getordermin", "ge_getordermax", "ge_getnextfx", "ge_getnextpoint", "ge_getnextmesh", "ge_getnextresource", "point_getposition", "scene_name", "scene_setcenter", "scene_fullname", "scene_reload", "ge_scriptscope", "scene_viewtype"}},
    {"utility and tools",
     {"errorbox", "flushscripts", "fileexists", "_ALERT", "print", "debug", "cls", "extractfilename", "clearHotspots", "exec", "eval", "dumpstack", "findallfiles", "ge_genospath", "mkdir", "sscanf", "fopenWrite", "fclose", "fobjectPrint", "mulcolor", "make_color", "get_rgba"}},
    {"editor",
     {"ge_geteditorobject", "ge_seteditorobject", "seteditormode", "setpositionmode", "ge_sendeditorinput", "getpositionmode", "setsceneedited", "setscenerotated", "getsceneedited", "geteditormode", "ge_selectobject", "ge_deleteobject", "ge_initobject", "ge_swap_object"}},
    {"memory, time, clipboard, random numbers and build",
     {"ge_getbuild", "ge_setbuild", "ge_addpackage", "ge_settotalmemory", "ge_getmemstats", "reloadAllResources", "ge_getcounter", "ge_getdate", "ge_gettime", "ge_getframerendertime", "ge_getclipboard", "ge_setclipboard", "ge_rand", "ge_rand_seed"}},
    };
    return families;
}

constexpr size_t kAllNames = 348;

// Every name the registry binds: the records, then the aliases that bind.
std::vector<std::string> RegisteredNames() {
    std::vector<std::string> names;
    for (ScriptFunctionRecord* r = ScriptFunctionListHead(); r; r = r->next) names.push_back(r->name);
    for (ScriptFunctionAlias* a = ScriptFunctionAliasListHead(); a; a = a->next)
        if (ScriptAliasFunction(a)) names.push_back(a->name);
    return names;
}

TEST(ScriptRegistry, EveryRegisteredNameIsKnownAndRegisteredOnce) {
    std::set<std::string> known;
    for (const Family& f : AllFamilies())
        for (const char* n : f.names) EXPECT_TRUE(known.insert(n).second) << "listed twice: " << n;
    ASSERT_EQ(known.size(), kAllNames);

    std::map<std::string, int> seen;
    for (const std::string& n : RegisteredNames()) {
        EXPECT_TRUE(known.count(n)) << "registered but not a script function name: " << n;
        EXPECT_EQ(++seen[n], 1) << "registered more than once: " << n;
    }
    for (const Family& f : AllFamilies())
        for (const char* n : f.names) EXPECT_TRUE(seen.count(n)) << f.what << ": not registered: " << n;
}

class ScriptRegistryState : public ScriptTest {};

TEST_F(ScriptRegistryState, EveryNameIsAGlobalFunctionAgainInEachNewState) {
    // Each listed name is a global function, and no two are one Lua value
    // except the two pairs that share their function.
    const std::set<std::pair<std::string, std::string>> shared = {{"gtext_name", "hs_getname"},
                                                                   {"matrix_fromvec", "rotation_fromvec"}};
    std::vector<std::string> names;
    for (const Family& f : AllFamilies())
        for (const char* n : f.names) names.push_back(n);
    ASSERT_EQ(names.size(), kAllNames);
    std::set<std::pair<std::string, std::string>> equal;
    for (size_t i = 0; i < names.size(); ++i) {
        lua_getglobal(L, names[i].c_str());
        EXPECT_EQ(lua_type(L, -1), LUA_TFUNCTION) << names[i];
        for (size_t k = 0; k < i; ++k) {
            lua_getglobal(L, names[k].c_str());
            if (lua_rawequal(L, -1, -2)) equal.insert(std::minmax(names[i], names[k]));
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
    }
    EXPECT_EQ(equal, shared);
    Lua(R"(
        assert(type(mesh_remove) == 'function' and select('#', mesh_remove(1, 2)) == 0)
        assert(gtext_name == hs_getname and matrix_fromvec == rotation_fromvec)
        assert(pobject_get ~= point_get)
        ge_getproperty = nil
    )");
    ScriptShutdown();
    CreateScriptState();
    L = ScriptState();
    Lua("assert(type(ge_getproperty) == 'function')");
}

TEST(ScriptRegistry, AliasesBindOnlyToRegisteredFunctions) {
    for (ScriptFunctionAlias* a = ScriptFunctionAliasListHead(); a; a = a->next)
        EXPECT_EQ(ScriptAliasFunction(a), FindScriptFunction(a->target)) << a->name;
    EXPECT_EQ(FindScriptFunction("mesh_remove"), &EmptyScriptFunction);
    EXPECT_EQ(FindScriptFunction("no_such_function"), nullptr);
    EXPECT_EQ(FindScriptFunction(nullptr), nullptr);
}

}  // namespace
