// Parsing 1 and 5 MB XML documents into a tree (and freeing it) with the
// XML library against libxml2's xmlReadMemory, in one binary. Prints the
// time ratio against the goal: within 2x of libxml2.
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include "3rdparty/xml/Xml.h"

#include "bench_util.h"

namespace {

std::string randomText(std::mt19937& rng, int maxLen)
{
  static const char* const extra[] = {"&", "<", ">", "\"", "\xc3\xa9", "\xe2\x82\xac", "\xe4\xb8\xad"};
  std::string s;
  for (int n = int(rng() % unsigned(maxLen)) + 1; n > 0; n--) {
    unsigned k = rng() % 100;
    if (k < 90)
      s += char(k % 8 ? 'a' + rng() % 26 : ' ');
    else
      s += extra[rng() % 7];
  }
  if (s.front() == ' ')
    s.front() = 'x';
  if (s.back() == ' ')
    s.back() = 'y';
  return s;
}

// Records with attributes, texts and nested lists, written formatted by the
// library's own writer (tabs and one element a line).
const std::string& document(int megabytes)
{
  static std::map<int, std::string> docs;
  std::string& text = docs[megabytes];
  if (!text.empty())
    return text;
  std::mt19937 rng(static_cast<unsigned>(megabytes));
  xml::XmlNode top = xml::XmlNode::createTopNode("records");
  size_t approx = 0;
  while (approx < size_t(megabytes) << 20) {
    xml::XmlNode r = top.addChild("record");
    r.addAttribute("id", std::to_string(rng()).c_str());
    r.addAttribute("kind", rng() % 2 ? "user" : "group");
    r.addChild("name").addText(randomText(rng, 24).c_str());
    r.addChild("email").addText((randomText(rng, 12) + "@example.com").c_str());
    xml::XmlNode tags = r.addChild("tags");
    for (int i = int(rng() % 5); i > 0; i--)
      tags.addChild("tag").addAttribute("value", randomText(rng, 10).c_str());
    r.addChild("note").addText(randomText(rng, 80).c_str());
    approx += 220;
  }
  char* s = top.createXmlString(true);
  text = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + s;
  xml::freeXmlString(s);
  return text;
}

void setBytes(benchmark::State& state, size_t bytes)
{
  state.SetBytesProcessed(int64_t(state.iterations() * bytes));
}

void BM_parse_xml(benchmark::State& state)
{
  const std::string& text = document(int(state.range(0)));
  for (auto _ : state) {
    xml::XmlNode n = xml::XmlNode::parseBuffer(text.data(), text.size());
    benchmark::DoNotOptimize(n.childCount());
  }
  setBytes(state, text.size());
}

void BM_parse_libxml2(benchmark::State& state)
{
  const std::string& text = document(int(state.range(0)));
  for (auto _ : state) {
    xmlDocPtr d = xmlReadMemory(text.data(), int(text.size()), "bench.xml", nullptr, 0);
    benchmark::DoNotOptimize(d);
    xmlFreeDoc(d);
  }
  setBytes(state, text.size());
}

// Argument: document size in MB.
BENCHMARK(BM_parse_xml)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_parse_libxml2)->Arg(1)->Arg(5)->Unit(benchmark::kMillisecond);

using tlbench::RatioReporter;

} // namespace

int main(int argc, char** argv)
{
  // Both must read the same documents completely.
  for (int mb : {1, 5}) {
    const std::string& text = document(mb);
    xml::XmlResults r;
    xml::XmlNode ours = xml::XmlNode::parseBuffer(text.data(), text.size(), "records", &r);
    xmlDocPtr d = xmlReadMemory(text.data(), int(text.size()), "bench.xml", nullptr, 0);
    bool same = r.error == xml::kXmlNoError && d &&
                xmlChildElementCount(xmlDocGetRootElement(d)) == (unsigned long)ours.childCount();
    xmlFreeDoc(d);
    if (!same) {
      fprintf(stderr, "parsers disagree on the benchmark document\n");
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* mb : {"1", "5"}) {
    double r = reporter.ratio(std::string("BM_parse_xml/") + mb, std::string("BM_parse_libxml2/") + mb);
    if (r > 0)
      printf("%s MB parse: xml/libxml2 time %.2f (goal <= 2.00: %s)\n", mb, r,
             r <= 2.0 ? "met" : "missed");
  }
  benchmark::Shutdown();
  xmlCleanupParser();
  return 0;
}
