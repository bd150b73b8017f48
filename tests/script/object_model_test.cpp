#include "script/object_model.h"

#include <clocale>

#include "base/object_list.h"
#include "base/stream.h"
#include "base/string_pool.h"
#include "script_test_support.h"
#include "support/text_stream.h"

using script_test::ScriptTest;

namespace {

using quild_test::TextStream;

struct FakeResource {
    const char* file;
};

class Probe : public EObject {
public:
    static ClassDescriptor descriptor_;
    Probe() : EObject(&descriptor_) {}
    void OnChanged(uint32_t mask) override { changed |= mask; }

    int32_t i = 0;
    bool b = false;
    float f = 0;
    const char* s = nullptr;
    float v[3] = {};
    float c3[3] = {};
    uint32_t color = 0;
    float f2[2] = {};
    int32_t rect[4] = {};
    FakeResource* image = nullptr;
    FakeResource* sound = nullptr;
    FakeResource* mesh = nullptr;
    const char* nm = nullptr;
    EObject* scene = nullptr;
    uint32_t hex = 0;
    const char* text = nullptr;
    EObject* dialog = nullptr;
    int32_t e = 0;
    const char* list = nullptr;
    EObject* ref = nullptr;
    uint32_t changed = 0;

    class Probe_Initializer : public EObject_Initializer {
    public:
        Probe_Initializer() : EObject_Initializer(&descriptor_) {}
        EObject* Create() override { return new Probe; }
        void RegisterProperties() override {
            ClassDescriptor& d = descriptor_;
            d.AddProperty("i", kPropertyInt, ObjectFieldOffset(&Probe::i));
            d.AddProperty("b", kPropertyBool, ObjectFieldOffset(&Probe::b));
            d.AddProperty("f", kPropertyFloat, ObjectFieldOffset(&Probe::f));
            d.AddProperty("s", kPropertyString, ObjectFieldOffset(&Probe::s));
            d.AddProperty("v", kPropertyVector, ObjectFieldOffset(&Probe::v));
            d.AddProperty("c3", kPropertyColor3, ObjectFieldOffset(&Probe::c3));
            d.AddProperty("color", kPropertyColor, ObjectFieldOffset(&Probe::color));
            d.AddProperty("f2", kPropertyFloat2, ObjectFieldOffset(&Probe::f2));
            d.AddProperty("rect", kPropertyRect, ObjectFieldOffset(&Probe::rect));
            d.AddProperty("image", kPropertyImage, ObjectFieldOffset(&Probe::image));
            d.AddProperty("sound", kPropertySound, ObjectFieldOffset(&Probe::sound));
            d.AddProperty("mesh", kPropertyMesh, ObjectFieldOffset(&Probe::mesh));
            d.AddProperty("nm", kPropertyName, ObjectFieldOffset(&Probe::nm));
            d.AddProperty("scene", kPropertyScene, ObjectFieldOffset(&Probe::scene));
            d.AddProperty("hex", kPropertyHex, ObjectFieldOffset(&Probe::hex));
            d.AddProperty("text", kPropertyText, ObjectFieldOffset(&Probe::text));
            d.AddProperty("dialog", kPropertyDialog, ObjectFieldOffset(&Probe::dialog));
            d.AddProperty("e", kPropertyEnum, ObjectFieldOffset(&Probe::e));
            d.AddProperty("list", kPropertyList, ObjectFieldOffset(&Probe::list));
            d.AddObjectReference("ref", "probe", ObjectFieldOffset(&Probe::ref));
            d.AddConstant("class", "probe");
        }
    };
    static Probe_Initializer initializer_;
};
ClassDescriptor Probe::descriptor_;
Probe::Probe_Initializer Probe::initializer_;

// A class of 34 int properties.
class Wide : public EObject {
public:
    static ClassDescriptor descriptor_;
    Wide() : EObject(&descriptor_) {}
    void OnChanged(uint32_t mask) override { changed = mask; }
    int32_t values[34] = {};
    uint32_t changed = 0;
    class Wide_Initializer : public EObject_Initializer {
    public:
        Wide_Initializer() : EObject_Initializer(&descriptor_) {}
        EObject* Create() override { return new Wide; }
        void RegisterProperties() override {
            static char keys[34][16];
            descriptor_.AddConstant("CLASS", "wide");
            for (int k = 0; k < 33; ++k) {
                std::snprintf(keys[k], sizeof keys[k], "p%d", k);
                descriptor_.AddProperty(keys[k], kPropertyInt, ObjectFieldOffset(&Wide::values) + 4 * k);
            }
        }
    };
    static Wide_Initializer initializer_;
};
ClassDescriptor Wide::descriptor_;
Wide::Wide_Initializer Wide::initializer_;

class ObjectModelTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        RegisterAllClassProperties();
        SetResourceNameFunction([](const void* r) { return static_cast<const FakeResource*>(r)->file; });
    }
    void TearDown() override {
        FreeAllPropertyLists();
        SetResourceNameFunction(nullptr);
        ScriptTest::TearDown();
    }
};

TEST_F(ObjectModelTest, CreationByClassWordAndClassTests) {
    EXPECT_EQ(CreateObjectByClass("Probe"), nullptr);
    EXPECT_EQ(CreateObjectByClass("nothing"), nullptr);
    EObject* o = CreateObjectByClass("probe");
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(IsClass(o, "probe"));
    EXPECT_FALSE(IsClass(o, "PROBE"));
    EXPECT_FALSE(IsClass(o, "wide"));
    EObject* w = CreateObjectByClass("wide");  // found through a key "CLASS"
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(IsClass(w, "wide"));

    EXPECT_EQ(o->list_next, nullptr);
    EXPECT_EQ(o->self, o);
    EXPECT_EQ(o->size, sizeof(Probe));
    void* handle = o->Handle();
    EXPECT_EQ(ObjectFromHandle(handle), o);
    EXPECT_EQ(ObjectFromHandle(o), nullptr);  // not its header
    int local = 0;
    EXPECT_EQ(ObjectFromHandle(&local), nullptr);
    delete o;
    EXPECT_EQ(ObjectFromHandle(handle), nullptr);  // stale handles are refused
    delete w;

    // A held object is found again while it lives; one made since at a
    // freed one's address (the pool hands the block out again) is not it.
    EObject* first = CreateObjectByClass("probe");
    const HeldObject held(first);
    EXPECT_EQ(held.Get(), first);
    delete first;
    EXPECT_EQ(held.Get(), nullptr);
    EObject* second = CreateObjectByClass("probe");
    EXPECT_EQ(second, first);
    EXPECT_EQ(held.Get(), nullptr);
    EXPECT_EQ(HeldObject(second).Get(), second);
    delete second;
    EXPECT_EQ(HeldObject().Get(), nullptr);
}

TEST_F(ObjectModelTest, ObjectsLiveInObjectLists) {
    ObjectList<Probe> list;
    Probe* a = ListAppendNew(list);
    Probe* b = ListFindOrAdd(list, CommonStrings().Intern("Door"));
    a->name = CommonStrings().Intern("lamp");
    EXPECT_EQ(ListFindByName(list, "DOOR"), b);
    EXPECT_EQ(ListIndexOf(list, b), 1);
    EXPECT_EQ(ObjectFromHandle(b->Handle()), b);
    ListRemove(list, a);
    delete a;
    EXPECT_EQ(ListCount(list), 1u);
    ListRemove(list, b);
    delete b;
}

TEST_F(ObjectModelTest, PropertyTypesAndChangeBits) {
    const PropertyInfo* p = Probe::descriptor_.first;
    std::vector<std::string> types;
    for (; p; p = p->next) types.push_back(PropertyTypeName(p) ? PropertyTypeName(p) : "nil");
    EXPECT_EQ(types, (std::vector<std::string>{"number", "boolean", "number", "string", "vector3", "color3",
                                               "color", "string", "string", "resource1", "resource2",
                                               "resource3", "resource4", "scene", "hex", "text", "dialog",
                                               "enum", "list", "probe", "nil"}));
    Wide w;
    const PropertyInfo* first = Wide::descriptor_.first;
    const PropertyInfo* p32 = first;
    for (int k = 0; k < 32; ++k) p32 = p32->next;
    NotifyPropertyChanged(&w, p32);  // the 33rd property shares the 1st one's bit
    EXPECT_EQ(w.changed, 1u);
    NotifyPropertyChanged(&w, first->next);
    EXPECT_EQ(w.changed, 2u);
}

TEST_F(ObjectModelTest, SaveTextForEveryType) {
    Lua("_LOCAL = 'data/local/'");
    Probe other, hall;
    other.name = "door";
    hall.name = "hall";
    FakeResource img{"data/local/img/a.png"};
    Probe o;
    o.i = 5;
    o.b = true;
    o.f = 3.0000004f;
    o.s = "a\"b\\c\nd";
    o.v[0] = 1;
    o.color = 0xff102030;
    o.f2[0] = 0.5f;
    o.rect[0] = 1, o.rect[1] = 2, o.rect[2] = 3, o.rect[3] = 4;
    o.image = &img;
    o.scene = &hall;
    o.text = "never saved";
    o.e = -2;
    o.list = "l1";
    o.ref = &other;
    TextStream out;
    o.Save(&out);
    EXPECT_EQ(out.text,
              "object{i=5,b=true,f=3,s=\"a\\\"b\\\\c\\nd\",v=\"1.000000,0.000000,0.000000\",color=\"ff102030\","
              "f2=\"0.500000,0.000000\",\r\nrect=\"1,2,3,4\",image=\"_LOCAL/img/a.png\",scene=\"hall\",e=-2,"
              "list=\"l1\",ref=\"door\",class=\"probe\",}\r\n");
    // A reference that holds an object of another class (a freed object's
    // block taken since) is left out.
    Wide stranger;
    stranger.name = "stranger";
    o.ref = &stranger;
    TextStream other_class;
    o.Save(&other_class);
    EXPECT_EQ(other_class.text.find("ref="), std::string::npos) << other_class.text;
    o.ref = &other;

    // The text reads back through Lua with every text intact.
    Lua("function object(t) saved = t end");
    ASSERT_EQ(ScriptRun(out.text.c_str()), 0);
    Lua("assert(saved.s == 'a\"b\\\\c\\nd' and saved.f == 3 and saved.class == 'probe')");

    // Defaults: only ints, floats and the class word.
    Probe empty;
    TextStream plain;
    WriteObjectProperties(&empty, &plain);
    EXPECT_EQ(plain.text, "object{i=0,f=0,e=0,class=\"probe\",}\r\n");
}

TEST_F(ObjectModelTest, FloatsSaveInTheCLocaleWithinRange) {
    Probe o;
    TextStream out;
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved_locale = old ? old : "C";
    bool has_comma_locale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    // Each float reads back as itself, also where six decimals would lose
    // it (a unit direction).
    for (float f : {2.5f, -0.25f, 3e9f, -3e9f, 1e30f, -0.53905374f, 0.123456789f}) {
        o.f = f;
        out.text.clear();
        WriteObjectProperties(&o, &out);
        std::string entry = out.text.substr(out.text.find(",f=") + 3);
        entry = entry.substr(0, entry.find(','));
        EXPECT_EQ(std::stof(entry), f) << entry;
        EXPECT_EQ(entry.find(','), std::string::npos);
    }
    o.f = 2.5f;
    o.v[1] = -0.53905374f;
    o.f2[0] = 0.2f;
    out.text.clear();
    WriteObjectProperties(&o, &out);
    EXPECT_NE(out.text.find("f=2.500000,"), std::string::npos);
    EXPECT_NE(out.text.find("v=\"0.000000,-0.53905374,0.000000\","), std::string::npos) << out.text;
    EXPECT_NE(out.text.find("f2=\"0.200000,0.000000\","), std::string::npos) << out.text;
    o.f = std::numeric_limits<float>::quiet_NaN();
    out.text.clear();
    WriteObjectProperties(&o, &out);
    EXPECT_NE(out.text.find("f=0/0,"), std::string::npos);
    std::setlocale(LC_NUMERIC, saved_locale.c_str());
    (void)has_comma_locale;
}

}  // namespace
