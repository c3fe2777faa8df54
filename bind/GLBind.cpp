// The entry-point variables, their tables, and resolving them from the GL and GLU libraries.
#include "bind/GLBind.h"

#include <cstring>
#include <iterator>

namespace GLBind {

static_assert(sizeof(FARPROC) == sizeof(GLProc) && sizeof(FARPROC) == sizeof(void (*)(GLenum)),
              "every entry-point variable holds an address of the same size");

#define GL_ENTRY_SKIP_GROUPS
#define GL_ENTRY_VARIABLE(name) EntryPointTypes::name name = nullptr;
#include "bind/GLEntryPoints.inc"
#undef GL_ENTRY_SKIP_GROUPS

HMODULE GLLibraryHandle = nullptr;
HMODULE GLULibraryHandle = nullptr;
bool VersionFlags[VersionFlagCount] = {};
bool ExtensionFlags[ExtensionCount] = {};

const char* const ExtensionNames[ExtensionCount] = {
#define GL_ENTRY_SKIP_VARIABLES
#define GL_EXTENSION_FLAG(name) #name,
#include "bind/GLEntryPoints.inc"
#undef GL_ENTRY_SKIP_VARIABLES
};

// The variables differ in type, so the tables reach them as plain storage of one address each.
FARPROC TEntryPoint::Value() const {
  FARPROC address;
  std::memcpy(&address, Variable, sizeof address);
  return address;
}

void TEntryPoint::Set(FARPROC address) const {
  std::memcpy(Variable, &address, sizeof address);
}

namespace {

// One array of members per group, named after the group.
// clang-format off
#define GL_ENTRY_SKIP_VARIABLES
#define GL_ENTRY_GROUP(kind, group) const TEntryPoint group##_Members[] = {
#define GL_ENTRY_MEMBER(name) {#name, #name, &name},
#define GL_ENTRY_MEMBER_AS(name, symbol) {#name, #symbol, &name},
#define GL_ENTRY_GROUP_END(group) };
#include "bind/GLEntryPoints.inc"
#undef GL_ENTRY_SKIP_VARIABLES
// clang-format on

const TEntryPointGroup* FindGroup(const char* name) {
  for (const TEntryPointGroup& group : EntryPointGroups())
    if (std::strcmp(group.Name, name) == 0) return &group;
  return nullptr;
}

void Resolve(const TEntryPointGroup& group, HMODULE library) {
  for (int i = 0; i < group.Count; ++i) {
    const TEntryPoint& entry = group.Members[i];
    entry.Set(GetEntryPoint(entry.Symbol, library));
  }
}

void Clear(const TEntryPointGroup& group) {
  for (int i = 0; i < group.Count; ++i) group.Members[i].Set(nullptr);
}

const TEntryPointGroup& Group(TEntryPointGroupKind kind) {
  for (const TEntryPointGroup& group : EntryPointGroups())
    if (group.Kind == kind) return group;
  return EntryPointGroups().front();  // not reached: both single groups are always there
}

}  // namespace

const std::vector<TEntryPointGroup>& EntryPointGroups() {
  static const std::vector<TEntryPointGroup> groups = {
#define GL_ENTRY_SKIP_VARIABLES
#define GL_ENTRY_GROUP(kind, group)                     \
  {#group, TEntryPointGroupKind::kind, group##_Members, \
   static_cast<int>(std::size(group##_Members))},
#include "bind/GLEntryPoints.inc"
#undef GL_ENTRY_SKIP_VARIABLES
  };
  return groups;
}

const std::vector<const TEntryPointGroup*>& CoreResolutionOrder() {
  static const std::vector<const TEntryPointGroup*> order = {
#define GL_ENTRY_SKIP_VARIABLES
#define GL_ENTRY_CORE_STEP(group) FindGroup(#group),
#include "bind/GLEntryPoints.inc"
#undef GL_ENTRY_SKIP_VARIABLES
  };
  return order;
}

const std::vector<TEntryPoint>& EntryPointVariables() {
  static const std::vector<TEntryPoint> variables = {
#define GL_ENTRY_SKIP_GROUPS
#define GL_ENTRY_VARIABLE(name) {#name, #name, &name},
#include "bind/GLEntryPoints.inc"
#undef GL_ENTRY_SKIP_GROUPS
  };
  return variables;
}

FARPROC GetEntryPoint(const char* name, HMODULE library) {
  HMODULE module = library ? library : GLLibraryHandle;
  // No library at all is not looked in: the platform would search the whole process.
  FARPROC address = module ? ::GetProcAddress(module, name) : nullptr;
  if (!address && wglGetProcAddress) {
    address = wglGetProcAddress(name);
    // Some drivers answer a name they do not have with 1, 2, 3 or -1 instead of null.
    const intptr_t value = reinterpret_cast<intptr_t>(address);
    if (value == 1 || value == 2 || value == 3 || value == -1) address = nullptr;
  }
  return address;
}

bool LoadGLLibraries(const char* glName, const char* gluName) {
  // Whatever was resolved from a library is cleared when it is released: an address into an
  // unloaded library must never stay callable. Everything but the GLU group comes from the GL
  // library or its wglGetProcAddress, and GLU names can fall through to that too.
  if (GLLibraryHandle) {
    FreeLibrary(GLLibraryHandle);
    for (const TEntryPoint& entry : EntryPointVariables()) entry.Set(nullptr);
  }
  if (GLULibraryHandle) {
    FreeLibrary(GLULibraryHandle);
    Clear(Group(TEntryPointGroupKind::Glu));
  }
  GLLibraryHandle = LoadLibraryA(glName);
  GLULibraryHandle = LoadLibraryA(gluName);
  if (GLLibraryHandle) Resolve(Group(TEntryPointGroupKind::WglBase), GLLibraryHandle);
  if (GLULibraryHandle) Resolve(Group(TEntryPointGroupKind::Glu), GLULibraryHandle);
  return GLLibraryHandle != nullptr;
}

void LoadCoreEntryPoints() {
  for (const TEntryPointGroup* group : CoreResolutionOrder()) Resolve(*group, nullptr);
}

void LoadEntryPoints() {
  LoadCoreEntryPoints();
  for (const TEntryPointGroup& group : EntryPointGroups()) {
    switch (group.Kind) {
      case TEntryPointGroupKind::GlExtension:
      case TEntryPointGroupKind::WglExtension:
      case TEntryPointGroupKind::Win:
        Resolve(group, nullptr);
        break;
      default:
        break;
    }
  }
}

}  // namespace GLBind
