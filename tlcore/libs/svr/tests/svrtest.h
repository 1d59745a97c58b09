// Shared by the svr tests: a registry of the server's methods for one test,
// a configuration with the three settings, and the catalogue's own texts.
#pragma once

#include <fstream>
#include <map>
#include <string>

#include "plat/Configuration.h"
#include "svr/AuthSchemes.h"

namespace svrtest {

constexpr const char* kMethods[][2] = {{"ZarnAuth", "1"},     {"SystemAuth", "2"},
                                       {"SingleSignOn", "3"}, {"InteractiveSystemAuth", "4"},
                                       {"Radius", "7"},       {"Duo", "8"}};

// Registers kMethods while it lives.
struct Methods {
  Methods()
  {
    for (const auto& m : kMethods)
      svr::registerAuthMethod(m[0], (unsigned)std::stoul(m[1]), true);
  }
  ~Methods()
  {
    for (const auto& m : kMethods)
      svr::registerAuthMethod(m[0], 0, false);
  }
};

struct Settings {
  Settings(const char* securityTypes, const char* encryption, const char* authentication)
  {
    config.addString("SecurityTypes", "", securityTypes);
    config.addString("Encryption", "", encryption);
    config.addString("Authentication", "", authentication);
  }
  plat::Configuration config{"svrtest"};
};

// language -> key -> text, read from a module's catalogue data file.
inline std::map<std::string, std::map<std::string, std::string>> readCatalogue(
    const std::string& path)
{
  std::map<std::string, std::map<std::string, std::string>> texts;
  std::ifstream in(path);
  std::string line, key;
  while (std::getline(in, line)) {
    if (line.compare(0, 4, "key ") == 0)
      key = line.substr(4);
    else if (!key.empty() && line.size() > 3 && line[2] == ' ')
      texts[line.substr(0, 2)][key] = line.substr(3);
  }
  return texts;
}

} // namespace svrtest
