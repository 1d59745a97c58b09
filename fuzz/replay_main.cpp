// Runs a fuzz target's entry point over files and directories of inputs, so
// that the seed corpus is replayed by the ordinary test build.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool runFile(const std::string& path)
{
  FILE* f = fopen(path.c_str(), "rbe");
  if (!f) {
    perror(path.c_str());
    return false;
  }
  std::vector<uint8_t> buf;
  uint8_t chunk[65536];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), f)) > 0)
    buf.insert(buf.end(), chunk, chunk + n);
  fclose(f);
  LLVMFuzzerTestOneInput(buf.data(), buf.size());
  return true;
}

static bool runPath(const std::string& path, int& count)
{
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    perror(path.c_str());
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    ++count;
    return runFile(path);
  }
  DIR* d = opendir(path.c_str());
  if (!d) {
    perror(path.c_str());
    return false;
  }
  bool ok = true;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..")
      continue;
    ok = runPath(path + "/" + name, count) && ok;
  }
  closedir(d);
  return ok;
}

int main(int argc, char** argv)
{
  bool ok = true;
  int count = 0;
  for (int i = 1; i < argc; i++)
    ok = runPath(argv[i], count) && ok;
  printf("ran %d inputs\n", count);
  return ok && count > 0 ? 0 : 1;
}
