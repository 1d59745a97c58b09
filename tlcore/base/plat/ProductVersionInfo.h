// The product's version record: the display and dotted version set by the
// program's entry, and the texts product initialisation builds from them
// (build description, about markup, OS line, product information) and
// rebuilds when the language changes. Read for the usage banner, the HTTP
// user agent and HAR documents.
//
// Main thread only: written during start-up and on a change of `Locale`,
// both on the main thread. Each text is null until set and lives until
// exit; a setter copies only a changed text.
#pragma once

namespace plat {

class ProductVersionInfo {
public:
  enum Text { kDisplayVersion, kDottedVersion, kBuildDesc, kAboutMarkup, kOsLine, kProductInfo };

  static const char* get(Text which);
  static void set(Text which, const char* text);

  static const char* displayVersion() { return get(kDisplayVersion); }
  static const char* dottedVersion() { return get(kDottedVersion); }
  static const char* buildDesc() { return get(kBuildDesc); }
  static const char* aboutMarkup() { return get(kAboutMarkup); }
  static const char* osLine() { return get(kOsLine); }
  static const char* productInfo() { return get(kProductInfo); }

  ProductVersionInfo() = delete;
};

} // namespace plat
