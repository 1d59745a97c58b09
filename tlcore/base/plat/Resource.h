// Files built into the executable (images, fonts, certificates, language
// lists), found by name.
//
// Each embedded file registers itself from a static initialiser before
// main (the build generates one unit per file, see tl_embed_resources in
// cmake/tl.cmake); code that would open a file asks the registry by name
// first. The bytes are constant, never copied and never freed; text is not
// NUL-terminated as far as the registry is concerned. Registration happens
// during static initialisation on the main thread; afterwards the registry
// is only read, so lookups need no lock.
#pragma once

namespace plat {

struct BuiltInResource {
  unsigned size;
  // Null when the name is not registered.
  const void* data;
};

// Names are case-sensitive; a second registration of a name replaces the
// first. name is copied, data is borrowed for the life of the process.
void addBuiltInResource(const char* name, unsigned size, const void* data);
// {0, null} when the name is not registered.
BuiltInResource findBuiltInResource(const char* name);

// The static object through which a generated unit registers its file.
struct BuiltInResourceRegistration {
  BuiltInResourceRegistration(const char* name, unsigned size, const void* data)
  {
    addBuiltInResource(name, size, data);
  }
};

} // namespace plat
