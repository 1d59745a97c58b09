// BED decoding and encoding of 1 and 10 MB documents against msgpack-c on
// the same tree (records of integers, texts, lists and a time, as a hosted
// service sends them), and the package scan of a 100 MB file against a
// memmem loop over the same file. Prints the time ratios against the goals:
// BED within 2x of msgpack-c both ways, the scan within 1.25x of memmem.
// Each side builds its own tree from the bytes and frees it again: BED into
// values that own their texts, msgpack-c into its zone, from a copy of the
// bytes it makes there.
#include <fcntl.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>

#include <benchmark/benchmark.h>
#include <msgpack.h>

#include "bench_util.h"
#include "hosted/Bed.h"
#include "hosted/Package.h"
#include "rdr/MemOutStream.h"

using namespace hosted;

namespace {

std::string randomText(std::mt19937& rng, int maxLen)
{
  std::string s;
  for (int n = (int)(rng() % (unsigned)maxLen); n > 0; n--)
    s += (char)(rng() % 7 ? 'a' + rng() % 26 : ' ');
  return s;
}

// The same tree in both formats: BED bytes and msgpack bytes.
struct Document {
  std::string bed;
  std::string msgpack;
};

const char* const kKeys[] = {"id", "name", "email", "score", "tags", "history", "note", "seen"};

const Document& document(int megabytes)
{
  static std::map<int, Document> docs;
  Document& d = docs[megabytes];
  if (!d.bed.empty())
    return d;
  std::mt19937 rng(megabytes);
  BedSeq* records = new BedSeq;
  BedValuePtr root(records);
  msgpack_sbuffer sbuf;
  msgpack_sbuffer_init(&sbuf);
  msgpack_packer pk;
  msgpack_packer_init(&pk, &sbuf, msgpack_sbuffer_write);
  // msgpack needs the count first: build the records, then pack them.
  struct Record {
    int64_t id, score, seen;
    std::string name, email, note;
    std::vector<std::string> tags;
    std::vector<int64_t> history;
  };
  std::vector<Record> all;
  size_t approx = 0;
  while (approx < (size_t)megabytes << 20) {
    Record r;
    r.id = (int64_t)rng() << 20 | rng() % 1000;
    r.name = randomText(rng, 24);
    r.email = randomText(rng, 16) + "@example.com";
    r.score = (int)(rng() % 200000) - 100000;
    for (int i = rng() % 5; i > 0; i--)
      r.tags.push_back(randomText(rng, 10));
    for (int i = rng() % 12; i > 0; i--)
      r.history.push_back(rng() % 100000000);
    r.note = randomText(rng, 80);
    r.seen = 133801632000000000LL + (int64_t)(rng() % 1000000) * 10000000;
    approx += 60 + r.name.size() + r.email.size() + r.note.size() + r.tags.size() * 6 +
              r.history.size() * 5;
    all.push_back(std::move(r));
  }
  msgpack_pack_array(&pk, all.size());
  auto packStr = [&pk](const std::string& s) {
    msgpack_pack_str(&pk, s.size());
    msgpack_pack_str_body(&pk, s.data(), s.size());
  };
  for (const Record& r : all) {
    BedMap* m = new BedMap;
    BedValuePtr mp(m);
    m->set("id", BedValuePtr(new BedInt(r.id)));
    m->set("name", BedValuePtr(new BedString(r.name.c_str())));
    m->set("email", BedValuePtr(new BedString(r.email.c_str())));
    m->set("score", BedValuePtr(new BedInt(r.score)));
    BedSeq* tags = new BedSeq;
    m->set("tags", BedValuePtr(tags));
    for (const std::string& t : r.tags)
      tags->append(BedValuePtr(new BedString(t.c_str())));
    BedSeq* history = new BedSeq;
    m->set("history", BedValuePtr(history));
    for (int64_t h : r.history)
      history->append(BedValuePtr(new BedInt(h)));
    m->set("note", BedValuePtr(new BedString(r.note.c_str())));
    m->set("seen", BedValuePtr(new BedTime(r.seen)));
    records->append(mp);

    msgpack_pack_map(&pk, 8);
    packStr(kKeys[0]);
    msgpack_pack_int64(&pk, r.id);
    packStr(kKeys[1]);
    packStr(r.name);
    packStr(kKeys[2]);
    packStr(r.email);
    packStr(kKeys[3]);
    msgpack_pack_int64(&pk, r.score);
    packStr(kKeys[4]);
    msgpack_pack_array(&pk, r.tags.size());
    for (const std::string& t : r.tags)
      packStr(t);
    packStr(kKeys[5]);
    msgpack_pack_array(&pk, r.history.size());
    for (int64_t h : r.history)
      msgpack_pack_int64(&pk, h);
    packStr(kKeys[6]);
    packStr(r.note);
    packStr(kKeys[7]);
    // msgpack's own timestamp extension, as BED has its time type.
    msgpack_timestamp ts = {(int64_t)((r.seen - 116444736000000000LL) / 10000000), 0};
    msgpack_pack_timestamp(&pk, &ts);
  }
  d.msgpack.assign(sbuf.data, sbuf.size);
  msgpack_sbuffer_destroy(&sbuf);
  rdr::MemOutStream out;
  BedWriter w(out);
  root->encode(w);
  d.bed.assign((const char*)out.data(), out.length());
  return d;
}

void setBytes(benchmark::State& state, size_t bytes)
{
  state.SetBytesProcessed((int64_t)(state.iterations() * bytes));
}

void BM_decode_bed(benchmark::State& state)
{
  const std::string& bytes = document((int)state.range(0)).bed;
  for (auto _ : state) {
    BedReader r((int)bytes.size(), bytes.data());
    BedValuePtr v = decodeBed(r, nullptr, false);
    benchmark::DoNotOptimize(v.get());
  }
  setBytes(state, bytes.size());
}

// msgpack-c's objects point into the bytes they were read from, where BED
// values own their texts: so that both trees stand alone, msgpack-c first
// copies the bytes into its zone, as its own unpacker does with what it
// buffers.
void BM_decode_msgpack(benchmark::State& state)
{
  const std::string& bytes = document((int)state.range(0)).msgpack;
  for (auto _ : state) {
    msgpack_zone* zone = msgpack_zone_new(MSGPACK_ZONE_CHUNK_SIZE);
    char* copy = static_cast<char*>(msgpack_zone_malloc(zone, bytes.size()));
    memcpy(copy, bytes.data(), bytes.size());
    msgpack_object root;
    size_t off = 0;
    msgpack_unpack_return rc = msgpack_unpack(copy, bytes.size(), &off, zone, &root);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(root.via.array.size);
    msgpack_zone_free(zone);
  }
  setBytes(state, bytes.size());
}

void BM_encode_bed(benchmark::State& state)
{
  const std::string& bytes = document((int)state.range(0)).bed;
  BedReader r((int)bytes.size(), bytes.data());
  BedValuePtr v = decodeBed(r, nullptr, false);
  for (auto _ : state) {
    rdr::MemOutStream out;
    BedWriter w(out);
    v->encode(w);
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, bytes.size());
}

void BM_encode_msgpack(benchmark::State& state)
{
  const std::string& bytes = document((int)state.range(0)).msgpack;
  msgpack_unpacked result;
  msgpack_unpacked_init(&result);
  size_t off = 0;
  msgpack_unpack_next(&result, bytes.data(), bytes.size(), &off);
  for (auto _ : state) {
    msgpack_sbuffer sbuf;
    msgpack_sbuffer_init(&sbuf);
    msgpack_packer pk;
    msgpack_packer_init(&pk, &sbuf, msgpack_sbuffer_write);
    msgpack_pack_object(&pk, result.data);
    benchmark::DoNotOptimize(sbuf.data);
    msgpack_sbuffer_destroy(&sbuf);
  }
  msgpack_unpacked_destroy(&result);
  setBytes(state, bytes.size());
}

// A 100 MB file of random bytes, no ELF header and no package at the
// tail, with one package near its end: found only by the scan.
std::string& scanPath()
{
  static std::string path;
  return path;
}

const std::string& scanFile()
{
  std::string& path = scanPath();
  if (!path.empty())
    return path;
  char tmpl[] = "/tmp/bench_pkgscan_XXXXXX";
  int fd = mkstemp(tmpl);
  path = tmpl;
  std::mt19937 rng(1);
  std::string chunk(1 << 20, '\0');
  PackageWriter w;
  w.setSection("a", "data", 4);
  rdr::MemOutStream pkg;
  w.write(pkg);
  for (int i = 0; i < 100; i++) {
    for (char& c : chunk)
      c = (char)rng();
    if (i == 99)
      memcpy(&chunk[chunk.size() - 4096], pkg.data(), pkg.length());
    if (write(fd, chunk.data(), chunk.size()) != (ssize_t)chunk.size())
      abort();
  }
  close(fd);
  return path;
}

void BM_scan_package(benchmark::State& state)
{
  const std::string& path = scanFile();
  for (auto _ : state) {
    PackageReader r(path.c_str());
    benchmark::DoNotOptimize(r.sections().size());
  }
  setBytes(state, 100 << 20);
}

// The peer: the same file read in the same windows, memmem for the magic.
void BM_scan_memmem(benchmark::State& state)
{
  const std::string& path = scanFile();
  static const unsigned char magic[4] = {0x2E, 0xBE, 0xDE, 0xE0};
  std::string buf(1 << 16, '\0');
  for (auto _ : state) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int64_t found = -1;
    for (int64_t at = 0; found < 0;) {
      ssize_t n = pread(fd, &buf[0], buf.size(), at);
      if (n < 4)
        break;
      if (const void* hit = memmem(buf.data(), n, magic, 4))
        found = at + ((const char*)hit - buf.data());
      at += n - 3;
    }
    close(fd);
    benchmark::DoNotOptimize(found);
  }
  setBytes(state, 100 << 20);
}

BENCHMARK(BM_decode_bed)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_decode_msgpack)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_encode_bed)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_encode_msgpack)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_scan_package)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_scan_memmem)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
  // glibc maps large blocks fresh and gives the top of its heap back to the
  // system past thresholds that it raises as the program frees large blocks,
  // so which side pays for faulting pages in again on every iteration
  // depended on what was freed before. Both sides run in steady state
  // instead: blocks up to 32 MiB come from the heap, and freed memory is
  // reused, as in a long-running process.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  // Both decoders must see the same number of records.
  for (int mb : {1, 10}) {
    const Document& d = document(mb);
    BedReader r((int)d.bed.size(), d.bed.data());
    int ours = decodeBed(r, nullptr, false)->asSeq().size();
    msgpack_unpacked result;
    msgpack_unpacked_init(&result);
    size_t off = 0;
    msgpack_unpack_next(&result, d.msgpack.data(), d.msgpack.size(), &off);
    bool same = result.data.type == MSGPACK_OBJECT_ARRAY && (int)result.data.via.array.size == ours;
    msgpack_unpacked_destroy(&result);
    if (!same) {
      fprintf(stderr, "the two documents differ\n");
      return 1;
    }
    printf("%d MB document: BED %zu bytes, msgpack %zu bytes\n", mb, d.bed.size(), d.msgpack.size());
  }
  // The machine is shared: each ratio is taken between medians of five runs
  // unless the command line says otherwise.
  std::vector<char*> args(argv, argv + argc);
  static char reps[] = "--benchmark_repetitions=5";
  if (std::none_of(args.begin(), args.end(),
                   [](const char* a) { return !strncmp(a, "--benchmark_repetitions", 23); }))
    args.push_back(reps);
  argc = (int)args.size();
  args.push_back(nullptr);
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  tlbench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* mb : {"1", "10"}) {
    for (const char* op : {"decode", "encode"}) {
      double r = reporter.ratio(std::string("BM_") + op + "_bed/" + mb,
                                std::string("BM_") + op + "_msgpack/" + mb);
      if (r > 0)
        printf("%s MB %s: BED/msgpack-c time %.2f (goal <= 2.00: %s)\n", mb, op, r,
               r <= 2.0 ? "met" : "missed");
    }
  }
  double s = reporter.ratio("BM_scan_package", "BM_scan_memmem");
  if (s > 0)
    printf("100 MB package scan: reader/memmem time %.2f (goal <= 1.25: %s)\n", s,
           s <= 1.25 ? "met" : "missed");
  if (!scanPath().empty())
    unlink(scanPath().c_str());
  benchmark::Shutdown();
  return 0;
}
