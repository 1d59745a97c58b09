// Parsing and freeing a 200-byte markup text: the markup parser alone (it
// validates), with the plain-text handler, the XML layer's parse of the
// same wrapped document (the floor the markup layer stands on) and, where
// the library is present, expat collecting the text of that document.
// Prints the time per parse against the goal of a few microseconds, and the
// ratios to the peers.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <string>

#include <benchmark/benchmark.h>

#include "3rdparty/xml/Xml.h"
#include "plat/MarkupParser.h"

#if defined(TL_HAVE_EXPAT)
#include <expat.h>
#endif

namespace {

// A wizard-page text of 200 bytes: bold runs, a link, a line break.
const std::string& markup()
{
  static const std::string text = [] {
    std::string s = "This <b>password will be used to gain access</b> when making a secure "
                    "remote connection <b>to this device</b>.<br/><a "
                    "href=\"https://help.example/auth\">Need help?</a> More";
    while (s.size() < 200)
      s += '.';
    return s;
  }();
  return text;
}

const std::string& wrapped()
{
  static const std::string doc =
      "<?xml version=\"1.0\"?>\n\n<body class=\"mui-markup\">" + markup() + "</body>";
  return doc;
}

void BM_markup_parse(benchmark::State& state)
{
  const char* text = markup().c_str();
  for (auto _ : state)
    benchmark::DoNotOptimize(plat::Markup::ParserHtml::instance().parse(text, nullptr));
}
BENCHMARK(BM_markup_parse);

void BM_markup_strip(benchmark::State& state)
{
  const char* text = markup().c_str();
  for (auto _ : state) {
    plat::Markup::Stripper plain(text);
    benchmark::DoNotOptimize(plain.get());
  }
}
BENCHMARK(BM_markup_strip);

void BM_xml_parse(benchmark::State& state)
{
  const char* doc = wrapped().c_str();
  xml::setGlobalOptions(xml::kXmlEncodingUtf8, true, false, true);
  for (auto _ : state) {
    xml::XmlResults results;
    xml::XmlNode body = xml::XmlNode::parseString(doc, "body", &results);
    benchmark::DoNotOptimize(body.contentCount());
  }
  xml::setGlobalOptions();
}
BENCHMARK(BM_xml_parse);

#if defined(TL_HAVE_EXPAT)
void onText(void* user, const XML_Char* s, int len)
{
  static_cast<std::string*>(user)->append(s, (size_t)len);
}

void BM_expat_parse(benchmark::State& state)
{
  const std::string& doc = wrapped();
  for (auto _ : state) {
    std::string text;
    XML_Parser p = XML_ParserCreate("UTF-8");
    XML_SetUserData(p, &text);
    XML_SetCharacterDataHandler(p, onText);
    bool ok = XML_Parse(p, doc.data(), (int)doc.size(), 1) == XML_STATUS_OK;
    XML_ParserFree(p);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_expat_parse);
#endif

class TimeReporter : public benchmark::ConsoleReporter {
public:
  TimeReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override
  {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
        ns[r.run_name.str()] = r.GetAdjustedCPUTime() *
                               benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                               benchmark::GetTimeUnitMultiplier(r.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> ns;
};

} // namespace

int main(int argc, char** argv)
{
  if (!plat::Markup::ParserHtml::instance().parse(markup().c_str(), nullptr)) {
    fprintf(stderr, "the benchmark markup does not parse\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  TimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double ours = reporter.ns["BM_markup_parse"];
  if (ours > 0) {
    printf("markup parse of %zu bytes: %.2f us (goal <= 5 us: %s)\n", markup().size(),
           ours / 1000, ours <= 5000 ? "met" : "missed");
    for (const char* peer : {"BM_xml_parse", "BM_expat_parse"}) {
      double t = reporter.ns[peer];
      if (t > 0)
        printf("markup parse / %s time %.2f\n", peer + 3, ours / t);
    }
  }
  benchmark::Shutdown();
  return 0;
}
