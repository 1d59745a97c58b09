// Parsing and writing 1 and 10 MB documents of integers and strings, with
// plat's JSON layer against nlohmann::json (parse, dump(2)) and RapidJSON's
// DOM (parse, PrettyWriter), all in one binary. Prints the time ratios
// against the goals: parsing at least twice as fast as nlohmann and within
// 3x of RapidJSON, writing at least as fast as nlohmann's dump(2).
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <random>
#include <string>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "plat/Json.h"
#include "plat/utf8.h"

#include "bench_util.h"

namespace {

std::string randomText(std::mt19937& rng, int maxLen)
{
  std::string s;
  for (int n = (int)(rng() % (unsigned)maxLen); n > 0; n--) {
    unsigned k = rng() % 100;
    if (k < 85) {
      s += (char)(k % 7 ? 'a' + rng() % 26 : ' ');
    } else if (k < 88) {
      s += "\"\\\n/"[rng() % 4];
    } else {
      unsigned cp = k < 97 ? 0xC0 + rng() % 0x300 : 0x4E00 + rng() % 0x5000;
      char buf[4];
      char* p = buf;
      plat::utf8Encode(cp, &p);
      s.append(buf, p);
    }
  }
  return s;
}

// An array of records, each with integers, strings and lists of both, as a
// hosted service would send; written compactly by nlohmann.
const std::string& document(int megabytes)
{
  static std::map<int, std::string> docs;
  std::string& text = docs[megabytes];
  if (!text.empty())
    return text;
  std::mt19937 rng(megabytes);
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  size_t approx = 0;
  while (approx < (size_t)megabytes << 20) {
    nlohmann::ordered_json r;
    r["id"] = (int64_t)rng() << 20 | rng() % 1000;
    r["name"] = randomText(rng, 24);
    r["email"] = randomText(rng, 16) + "@example.com";
    r["score"] = (int)(rng() % 200000) - 100000;
    r["tags"] = nlohmann::ordered_json::array();
    for (int i = rng() % 5; i > 0; i--)
      r["tags"].push_back(randomText(rng, 10));
    r["history"] = nlohmann::ordered_json::array();
    for (int i = rng() % 12; i > 0; i--)
      r["history"].push_back((int64_t)(rng() % 100000000));
    r["note"] = randomText(rng, 80);
    approx += r.dump().size() + 1;
    records.push_back(std::move(r));
  }
  text = records.dump();
  return text;
}

void setBytes(benchmark::State& state, size_t bytes)
{
  state.SetBytesProcessed((int64_t)(state.iterations() * bytes));
}

void BM_parse_plat(benchmark::State& state)
{
  const std::string& text = document((int)state.range(0));
  for (auto _ : state) {
    plat::JsonPtr<plat::JsonValue> v =
        plat::JsonValue::parse(text.data(), (int)text.size(), nullptr);
    benchmark::DoNotOptimize(v.get());
  }
  setBytes(state, text.size());
}

void BM_parse_nlohmann(benchmark::State& state)
{
  const std::string& text = document((int)state.range(0));
  for (auto _ : state) {
    nlohmann::json v = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(v.size());
  }
  setBytes(state, text.size());
}

void BM_parse_rapidjson(benchmark::State& state)
{
  const std::string& text = document((int)state.range(0));
  for (auto _ : state) {
    rapidjson::Document d;
    d.Parse(text.data(), text.size());
    benchmark::DoNotOptimize(d.Size());
  }
  setBytes(state, text.size());
}

void BM_write_plat(benchmark::State& state)
{
  const std::string& text = document((int)state.range(0));
  plat::JsonPtr<plat::JsonValue> v = plat::JsonValue::parse(text.data(), (int)text.size(), nullptr);
  for (auto _ : state) {
    std::unique_ptr<char[]> out(v->toString());
    benchmark::DoNotOptimize(out.get());
  }
  setBytes(state, text.size());
}

void BM_write_nlohmann(benchmark::State& state)
{
  const std::string& text = document((int)state.range(0));
  nlohmann::json v = nlohmann::json::parse(text);
  for (auto _ : state) {
    std::string out = v.dump(2);
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, text.size());
}

void BM_write_rapidjson(benchmark::State& state)
{
  const std::string& text = document((int)state.range(0));
  rapidjson::Document d;
  d.Parse(text.data(), text.size());
  for (auto _ : state) {
    rapidjson::StringBuffer buf;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buf);
    w.SetIndent(' ', 2);
    d.Accept(w);
    benchmark::DoNotOptimize(buf.GetString());
  }
  setBytes(state, text.size());
}

// Argument: document size in MB.
BENCHMARK(BM_parse_plat)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_parse_nlohmann)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_parse_rapidjson)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_write_plat)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_write_nlohmann)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_write_rapidjson)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  // The three must read the same documents.
  for (int mb : {1, 10}) {
    const std::string& text = document(mb);
    plat::JsonPtr<plat::JsonValue> ours =
        plat::JsonValue::parse(text.data(), (int)text.size(), nullptr);
    rapidjson::Document d;
    d.Parse(text.data(), text.size());
    if (d.HasParseError() || (int)d.Size() != ours->asArray().size() ||
        nlohmann::json::parse(text).size() != d.Size()) {
      fprintf(stderr, "parsers disagree on the benchmark document\n");
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* ours, const char* peer, const char* mb) {
    return reporter.ratio(std::string(ours) + "/" + mb, std::string(peer) + "/" + mb);
  };
  for (const char* mb : {"1", "10"}) {
    double pn = ratio("BM_parse_plat", "BM_parse_nlohmann", mb);
    double pr = ratio("BM_parse_plat", "BM_parse_rapidjson", mb);
    double wn = ratio("BM_write_plat", "BM_write_nlohmann", mb);
    double wr = ratio("BM_write_plat", "BM_write_rapidjson", mb);
    if (pn > 0)
      printf("%s MB parse: plat/nlohmann time %.2f (goal <= 0.50: %s)\n", mb, pn,
             pn <= 0.5 ? "met" : "missed");
    if (pr > 0)
      printf("%s MB parse: plat/RapidJSON time %.2f (goal <= 3.00: %s)\n", mb, pr,
             pr <= 3.0 ? "met" : "missed");
    if (wn > 0)
      printf("%s MB write: plat/nlohmann dump(2) time %.2f (goal <= 1.00: %s)\n", mb, wn,
             wn <= 1.0 ? "met" : "missed");
    if (wr > 0)
      printf("%s MB write: plat/RapidJSON PrettyWriter time %.2f (for reference)\n", mb, wr);
  }
  benchmark::Shutdown();
  return 0;
}
