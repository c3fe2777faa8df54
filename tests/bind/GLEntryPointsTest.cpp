// The shape of the entry-point table: totals, group rows and the orders they are resolved in.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bind/GLBind.h"

namespace {

using namespace GLBind;

std::vector<const TEntryPointGroup*> GroupsOf(TEntryPointGroupKind kind) {
  std::vector<const TEntryPointGroup*> groups;
  for (const TEntryPointGroup& group : EntryPointGroups())
    if (group.Kind == kind) groups.push_back(&group);
  return groups;
}

const TEntryPointGroup& Named(const char* name) {
  for (const TEntryPointGroup& group : EntryPointGroups())
    if (std::strcmp(group.Name, name) == 0) return group;
  ADD_FAILURE() << "no group " << name;
  static const TEntryPointGroup none{"", TEntryPointGroupKind::Glu, nullptr, 0};
  return none;
}

std::vector<std::string> Members(const TEntryPointGroup& group) {
  std::vector<std::string> names;
  for (int i = 0; i < group.Count; ++i) names.push_back(group.Members[i].Name);
  return names;
}

int NameCount(const std::vector<const TEntryPointGroup*>& groups) {
  int count = 0;
  for (const TEntryPointGroup* group : groups) count += group->Count;
  return count;
}

TEST(GLEntryPointTable, TotalsPerGroupKind) {
  EXPECT_EQ(EntryPointVariables().size(), 2232u);
  std::set<std::string> names;
  std::set<void*> variables;
  for (const TEntryPoint& entry : EntryPointVariables()) {
    names.insert(entry.Name);
    variables.insert(entry.Variable);
  }
  EXPECT_EQ(names.size(), 2232u) << "every variable has its own name";
  EXPECT_EQ(variables.size(), 2232u) << "and its own storage";

  auto wglBase = GroupsOf(TEntryPointGroupKind::WglBase);
  auto glu = GroupsOf(TEntryPointGroupKind::Glu);
  auto core = GroupsOf(TEntryPointGroupKind::GlCore);
  auto gl = GroupsOf(TEntryPointGroupKind::GlExtension);
  auto wgl = GroupsOf(TEntryPointGroupKind::WglExtension);
  auto win = GroupsOf(TEntryPointGroupKind::Win);
  ASSERT_EQ(wglBase.size(), 1u);
  ASSERT_EQ(glu.size(), 1u);
  EXPECT_EQ(NameCount(wglBase), 21);
  EXPECT_EQ(NameCount(glu), 51);
  EXPECT_EQ(NameCount(core), 649);
  EXPECT_EQ(gl.size(), 167u);
  EXPECT_EQ(NameCount(gl), 1400);
  EXPECT_EQ(wgl.size(), 30u);
  EXPECT_EQ(NameCount(wgl), 111);
  EXPECT_EQ(win.size(), 2u);
  EXPECT_EQ(NameCount(win), 2);

  std::set<void*> glVariables;
  for (const TEntryPointGroup* group : gl)
    for (int i = 0; i < group->Count; ++i) glVariables.insert(group->Members[i].Variable);
  EXPECT_EQ(glVariables.size(), 1398u);

  // Every member resolves into one of the variables, and every variable is some group's.
  std::set<void*> reached;
  for (const TEntryPointGroup& group : EntryPointGroups())
    for (int i = 0; i < group.Count; ++i) reached.insert(group.Members[i].Variable);
  EXPECT_EQ(reached, variables);
  for (const TEntryPointGroup* group : gl) {
    EXPECT_GE(group->Count, 1) << group->Name;
    EXPECT_LE(group->Count, 186) << group->Name;
  }
}

TEST(GLEntryPointTable, OnlyTheTwoStatedNamesStandInTwoGroups) {
  std::map<std::string, std::vector<std::string>> holders;
  for (const TEntryPointGroup& group : EntryPointGroups())
    for (int i = 0; i < group.Count; ++i) holders[group.Members[i].Name].push_back(group.Name);
  std::map<std::string, std::vector<std::string>> twice;
  for (const auto& [name, groups] : holders)
    if (groups.size() > 1) twice[name] = groups;
  ASSERT_EQ(twice.size(), 2u);
  EXPECT_EQ(twice["glGetVertexAttribPointervARB"],
            (std::vector<std::string>{"GL_ARB_vertex_program", "GL_ARB_vertex_shader"}));
  ASSERT_EQ(twice["glImageTransformParameteriHP"].size(), 2u);
  EXPECT_EQ(twice["glImageTransformParameteriHP"][1], "GL_HP_image_transform");
}

TEST(GLEntryPointTable, WglBaseAndGluGroups) {
  const TEntryPointGroup& base = *GroupsOf(TEntryPointGroupKind::WglBase)[0];
  std::vector<std::string> symbols;
  for (int i = 0; i < base.Count; ++i) symbols.push_back(base.Members[i].Symbol);
  EXPECT_EQ(symbols.front(), "wglCopyContext");
  EXPECT_EQ(symbols[8], "wglGetProcAddress");
  EXPECT_EQ(symbols[18], "wglUseFontOutlinesW");
  // The character-set-neutral font variables receive the "A" functions.
  EXPECT_STREQ(base.Members[19].Name, "wglUseFontBitmaps");
  EXPECT_STREQ(base.Members[19].Symbol, "wglUseFontBitmapsA");
  EXPECT_STREQ(base.Members[20].Name, "wglUseFontOutlines");
  EXPECT_STREQ(base.Members[20].Symbol, "wglUseFontOutlinesA");
  EXPECT_EQ(base.Members[15].Variable, &GLBind::wglUseFontBitmapsA);
  EXPECT_NE(base.Members[19].Variable, base.Members[15].Variable);

  auto glu = Members(*GroupsOf(TEntryPointGroupKind::Glu)[0]);
  EXPECT_EQ(glu.front(), "gluBeginCurve");
  EXPECT_EQ(glu[5], "gluBuild2DMipmaps");
  EXPECT_EQ(glu[17], "gluGetString");
  EXPECT_EQ(glu.back(), "gluUnProject");
}

TEST(GLEntryPointTable, CoreBlocksByVersion) {
  struct Block {
    const char* name;
    int count;
    const char* first;
    const char* last;
  };
  const Block blocks[] = {
      {"GL_VERSION_1_1", 336, "glCullFace", "glVertexPointer"},
      {"GL_VERSION_1_2", 38, "glBlendColor", "glResetMinmax"},
      {"GL_VERSION_1_3", 46, nullptr, nullptr},
      {"GL_VERSION_1_4", 45, nullptr, nullptr},
      {"GL_VERSION_1_5", 19, nullptr, nullptr},
      {"GL_VERSION_2_0", 92, nullptr, nullptr},
      {"GL_VERSION_2_1", 6, nullptr, nullptr},
      {"GL_VERSION_3_0", 58, "glColorMaski", "glGetStringi"},
      {"GL_VERSION_3_1", 4, nullptr, nullptr},
      {"GL_VERSION_3_2", 5, "glGetInteger64i_v", "glFramebufferTextureFace"},
  };
  auto core = GroupsOf(TEntryPointGroupKind::GlCore);
  ASSERT_EQ(core.size(), std::size(blocks));
  for (size_t i = 0; i < core.size(); ++i) {
    SCOPED_TRACE(blocks[i].name);
    EXPECT_STREQ(core[i]->Name, blocks[i].name);
    EXPECT_EQ(core[i]->Count, blocks[i].count);
    if (blocks[i].first) {
      EXPECT_STREQ(core[i]->Members[0].Name, blocks[i].first);
      EXPECT_STREQ(core[i]->Members[core[i]->Count - 1].Name, blocks[i].last);
    }
  }
  auto v12 = Members(Named("GL_VERSION_1_2"));
  EXPECT_EQ(std::vector<std::string>(v12.begin(), v12.begin() + 7),
            (std::vector<std::string>{"glBlendColor", "glBlendEquation", "glDrawRangeElements",
                                      "glTexImage3D", "glTexSubImage3D", "glCopyTexSubImage3D",
                                      "glColorTable"}));
  // What the screen draws with is all in the first block.
  auto v11 = Members(Named("GL_VERSION_1_1"));
  std::set<std::string> first(v11.begin(), v11.end());
  for (const char* name :
       {"glEnable", "glDisable", "glClearColor", "glClear", "glViewport", "glMatrixMode",
        "glLoadIdentity", "glOrtho", "glBindTexture", "glTexParameteri", "glBegin", "glEnd",
        "glTexCoord2f", "glVertex3f", "glGetString", "glReadPixels", "glFinish"})
    EXPECT_TRUE(first.count(name)) << name;
}

TEST(GLEntryPointTable, CoreResolutionRunsTheCoreArbGroupsAroundTheBlocks) {
  std::vector<std::string> order;
  for (const TEntryPointGroup* group : CoreResolutionOrder()) {
    ASSERT_NE(group, nullptr);
    order.push_back(group->Name);
  }
  const std::vector<std::string> expected = {"GL_VERSION_1_1",
                                             "GL_VERSION_1_2",
                                             "GL_VERSION_1_3",
                                             "GL_VERSION_1_4",
                                             "GL_VERSION_1_5",
                                             "GL_VERSION_2_0",
                                             "GL_VERSION_2_1",
                                             "GL_ARB_framebuffer_object",
                                             "GL_ARB_map_buffer_range",
                                             "GL_ARB_vertex_array_object",
                                             "GL_VERSION_3_0",
                                             "GL_ARB_copy_buffer",
                                             "GL_ARB_uniform_buffer_object",
                                             "GL_VERSION_3_1",
                                             "GL_ARB_draw_elements_base_vertex",
                                             "GL_ARB_provoking_vertex",
                                             "GL_ARB_sync",
                                             "GL_ARB_texture_multisample",
                                             "GL_VERSION_3_2",
                                             "GL_ARB_blend_func_extended",
                                             "GL_ARB_sampler_objects",
                                             "GL_ARB_timer_query",
                                             "GL_ARB_vertex_type_2_10_10_10_rev",
                                             "GL_ARB_gpu_shader_fp64",
                                             "GL_ARB_shader_subroutine",
                                             "GL_ARB_tessellation_shader",
                                             "GL_ARB_transform_feedback2",
                                             "GL_ARB_transform_feedback3"};
  EXPECT_EQ(order, expected);

  auto fbo = Members(Named("GL_ARB_framebuffer_object"));
  EXPECT_EQ(fbo.size(), 20u);
  EXPECT_EQ(fbo.front(), "glIsRenderbuffer");
  EXPECT_EQ(fbo.back(), "glFramebufferTextureLayer");
  // The 18 groups the core runs are extension groups, run again with the others.
  for (const TEntryPointGroup* group : CoreResolutionOrder()) {
    if (std::strncmp(group->Name, "GL_ARB_", 7) == 0) {
      EXPECT_EQ(group->Kind, TEntryPointGroupKind::GlExtension) << group->Name;
    }
  }
}

TEST(GLEntryPointTable, TellingExtensionRows) {
  EXPECT_EQ(Members(Named("GL_3DFX_tbuffer")), std::vector<std::string>{"glTbufferMask3DFX"});

  auto multitexture = Members(Named("GL_ARB_multitexture"));
  ASSERT_EQ(multitexture.size(), 34u);
  EXPECT_EQ(multitexture[0], "glActiveTextureARB");
  EXPECT_EQ(multitexture[1], "glClientActiveTextureARB");
  EXPECT_EQ(multitexture[2], "glMultiTexCoord1dARB");
  EXPECT_EQ(multitexture[33], "glMultiTexCoord4svARB");
  for (size_t i = 2; i < multitexture.size(); ++i)
    EXPECT_EQ(multitexture[i].rfind("glMultiTexCoord", 0), 0u) << multitexture[i];

  const TEntryPointGroup& dsa = Named("GL_EXT_direct_state_access");
  EXPECT_EQ(dsa.Count, 186);
  EXPECT_STREQ(dsa.Members[0].Name, "glClientAttribDefaultEXT");
  EXPECT_STREQ(dsa.Members[185].Name, "glMultiTexRenderbufferEXT");
  for (const TEntryPointGroup& group : EntryPointGroups()) {
    if (&group != &dsa && group.Kind != TEntryPointGroupKind::GlCore) {
      EXPECT_LT(group.Count, 186) << group.Name << " is not the largest";
    }
  }

  EXPECT_EQ(Members(Named("WGL_ARB_extensions_string")),
            std::vector<std::string>{"wglGetExtensionsStringARB"});
  EXPECT_EQ(Members(Named("WGL_EXT_extensions_string")),
            std::vector<std::string>{"wglGetExtensionsStringEXT"});
  EXPECT_EQ(Members(Named("WGL_ARB_pixel_format")),
            (std::vector<std::string>{"wglGetPixelFormatAttribivARB",
                                      "wglGetPixelFormatAttribfvARB", "wglChoosePixelFormatARB"}));
  EXPECT_EQ(Members(Named("WGL_ARB_create_context")),
            std::vector<std::string>{"wglCreateContextAttribsARB"});
  EXPECT_EQ(Members(Named("WGL_EXT_swap_control")),
            (std::vector<std::string>{"wglSwapIntervalEXT", "wglGetSwapIntervalEXT"}));
  EXPECT_EQ(Members(Named("WIN_draw_range_elements")),
            std::vector<std::string>{"glDrawRangeElementsWIN"});
  EXPECT_EQ(Members(Named("WIN_swap_hint")), std::vector<std::string>{"glAddSwapHintRectWIN"});
}

// The part of a name between its first two underscores: "GL_ARB_sync" gives "ARB".
std::string Vendor(const std::string& name) {
  size_t first = name.find('_');
  return name.substr(first + 1, name.find('_', first + 1) - first - 1);
}

TEST(GLEntryPointTable, ExtensionGroupsRunByVendorThenWglThenWin) {
  std::vector<std::string> kinds, glVendors, wglVendors;
  TEntryPointGroupKind last = TEntryPointGroupKind::WglBase;
  for (const TEntryPointGroup& group : EntryPointGroups()) {
    EXPECT_GE(static_cast<int>(group.Kind), static_cast<int>(last)) << group.Name;
    last = group.Kind;
    std::string vendor = Vendor(group.Name);
    auto& vendors = group.Kind == TEntryPointGroupKind::GlExtension    ? glVendors
                    : group.Kind == TEntryPointGroupKind::WglExtension ? wglVendors
                                                                       : kinds;
    if (vendors.empty() || vendors.back() != vendor) vendors.push_back(vendor);
  }
  EXPECT_EQ(glVendors, (std::vector<std::string>{"3DFX", "APPLE", "ARB", "ATI", "AMD", "EXT", "HP",
                                                 "IBM", "INGR", "INTEL", "MESA", "NV", "PGI",
                                                 "SGIS", "SGIX", "SGI", "SUNX", "SUN"}));
  EXPECT_EQ(wglVendors, (std::vector<std::string>{"ARB", "AMD", "EXT", "I3D", "NV", "OML", "3DL"}));
}

TEST(GLEntryPointTable, ExtensionFlagNames) {
  ASSERT_EQ(ExtensionCount, 402);
  EXPECT_STREQ(ExtensionNames[0], "GL_3DFX_multisample");
  EXPECT_STREQ(ExtensionNames[401], "WIN_swap_hint");
  EXPECT_STREQ(ExtensionNames[400], "WIN_draw_range_elements");
  EXPECT_STREQ(ExtensionNames[Ext_GL_ARB_multitexture], "GL_ARB_multitexture");
  EXPECT_STREQ(ExtensionNames[Ext_WGL_EXT_swap_control], "WGL_EXT_swap_control");

  std::map<std::string, int> gl, wgl;
  std::set<std::string> unique;
  for (const char* name : ExtensionNames) {
    unique.insert(name);
    std::string text = name;
    if (text.rfind("GL_", 0) == 0) ++gl[text == "GL_FfdMaskSGIX" ? "FfdMaskSGIX" : Vendor(text)];
    if (text.rfind("WGL_", 0) == 0) ++wgl[Vendor(text)];
  }
  EXPECT_EQ(unique.size(), 402u);
  const std::map<std::string, int> glExpected = {
      {"EXT", 91},  {"ARB", 84}, {"NV", 54}, {"SGIX", 41}, {"APPLE", 15},     {"ATI", 15},
      {"SGIS", 15}, {"SUN", 6},  {"AMD", 5}, {"IBM", 5},   {"HP", 4},         {"INGR", 4},
      {"SGI", 4},   {"3DFX", 3}, {"OML", 3}, {"INTEL", 2}, {"MESA", 2},       {"PGI", 2},
      {"WIN", 2},   {"REND", 1}, {"S3", 1},  {"SUNX", 1},  {"FfdMaskSGIX", 1}};
  EXPECT_EQ(gl, glExpected);
  const std::map<std::string, int> wglExpected = {{"ARB", 10}, {"NV", 10},  {"EXT", 8},
                                                  {"I3D", 6},  {"3DFX", 1}, {"ATI", 1},
                                                  {"AMD", 1},  {"OML", 1},  {"3DL", 1}};
  EXPECT_EQ(wgl, wglExpected);
  for (const char* name :
       {"GL_ARB_texture_non_power_of_two", "GL_ARB_framebuffer_object", "WGL_ARB_extensions_string",
        "WGL_EXT_extensions_string", "WGL_ARB_pixel_format", "WGL_ARB_create_context"})
    EXPECT_TRUE(unique.count(name)) << name;
}

}  // namespace
