// Peak memory of parsing the untrusted documents, one document shape per process:
//   parse_memory_bench <shape> [tree]
// builds the document in memory, then parses it as the launcher does (or, with "tree", with
// json-c's tree parser, for comparison) and prints the process's peak working set before
// and after the parse. Run every shape with bench/parse_memory_bench.sh.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "manifest/envelope.h"
#include "manifest/json.h"
#include "sync/client_files.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;

double PeakMiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<double>(counters.PeakWorkingSetSize) / kMiB;
}

std::string Hex32(unsigned n) {
  char text[33];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x", n, n * 2654435761u, n ^ 0x5bd1e995u, n + 7);
  return text;
}

// 200,000 files in 200 resources; pathBytes sets the length of each file's path.
std::string ClientFiles(size_t pathBytes) {
  std::string body;
  body.reserve(200000 * (pathBytes + 70) + 64);
  body += "{\"schema\":1,\"httpThreads\":8,\"resources\":[";
  unsigned n = 0;
  for (int r = 0; r < 200; ++r) {
    body += r ? ",{\"name\":\"res" : "{\"name\":\"res";
    body += std::to_string(r) + "\",\"files\":[";
    for (int f = 0; f < 1000; ++f, ++n) {
      std::string path = "client/models/item_" + std::to_string(n) + ".dff";
      if (path.size() < pathBytes) path.insert(7, std::string(pathBytes - path.size(), 'd'));
      body += f ? ",{\"path\":\"" : "{\"path\":\"";
      body += path + "\",\"size\":" + std::to_string(1000 + n) + ",\"md5\":\"" + Hex32(n) + "\"}";
    }
    body += "]}";
  }
  body += "]}";
  return body;
}

// Repeats unit until the whole text is about limit bytes: head + units joined by "," + tail.
std::string Filled(const std::string& head, const std::string& unit, const std::string& tail, size_t limit) {
  std::string body;
  body.reserve(limit + unit.size() + head.size() + tail.size());
  body += head;
  while (body.size() + unit.size() + 1 + tail.size() <= limit) {
    if (body.size() > head.size()) body += ',';
    body += unit;
  }
  body += tail;
  return body;
}

std::string Envelope(size_t limit) {
  std::string body = "{\"format\":\"talvoreen-signed-v1\",\"signature\":\"" + std::string(86, 'A') + "==\",\"payload\":\"";
  const size_t payload = (limit - body.size() - 2) / 4 * 4;
  body.reserve(limit);
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (size_t i = 0; i < payload; ++i) body.push_back(alphabet[(i * 2654435761u >> 7) % 64]);
  body += "\"}";
  return body;
}

std::string Shape(const std::string& name) {
  const size_t list = 64 * kMiB, envelope = 32 * kMiB;
  const std::string fileUnit = "{\"path\":\"a\",\"size\":1,\"md5\":\"" + Hex32(1) + "\"}";
  if (name == "list-200000") return ClientFiles(40);
  if (name == "list-200000-long-paths") return ClientFiles(220);
  if (name == "list-empty-objects") return Filled("{\"schema\":1,\"resources\":[", "{}", "]}", list);
  if (name == "list-deep") return std::string(list / 2, '[') + std::string(list / 2, ']');
  if (name == "list-long-string") return "{\"schema\":1,\"resources\":[{\"name\":\"" + std::string(list - 40, 'x') + "\"}]}";
  if (name == "list-small-numbers") return Filled("{\"schema\":1,\"resources\":[", "0", "]}", list);
  if (name == "list-files-before-name") {
    // One resource whose files all wait for its name, each file as small as a valid one gets.
    return Filled("{\"schema\":1,\"resources\":[{\"files\":[", fileUnit, "],\"name\":\"r\"}]}", list);
  }
  if (name == "envelope-32mib") return Envelope(envelope);
  if (name == "envelope-empty-objects") return Filled("{\"format\":\"talvoreen-signed-v1\",\"x\":[", "{}", "]}", envelope);
  if (name == "envelope-deep") return std::string(envelope / 2, '[') + std::string(envelope / 2, ']');
  if (name == "envelope-small-numbers") return Filled("{\"x\":[", "0", "]}", envelope);
  return std::string();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::printf("usage: parse_memory_bench <shape> [tree]\n");
    return 2;
  }
  const std::string shape = argv[1];
  const bool tree = argc > 2 && std::strcmp(argv[2], "tree") == 0;
  const std::string body = Shape(shape);
  if (body.empty()) {
    std::printf("unknown shape %s\n", shape.c_str());
    return 2;
  }
  const double before = PeakMiB();
  bool accepted = false;
  size_t files = 0;
  if (tree) {
    accepted = ParseJson(body) != nullptr;
  } else if (shape.compare(0, 4, "list") == 0) {
    Manifest list;
    std::wstring error;
    accepted = ParseClientFiles(body, list, error);
    files = list.files.size();
  } else {
    std::string payload;
    std::wstring error;
    accepted = VerifyEnvelope(body, payload, error);
    files = payload.size();
  }
  std::printf("%-26s %-6s input %6.1f MiB  peak before parse %6.1f MiB  peak %6.1f MiB  %s (%zu)\n", shape.c_str(),
              tree ? "json-c" : "stream", static_cast<double>(body.size()) / kMiB, before, PeakMiB(),
              accepted ? "accepted" : "refused", files);
  return 0;
}
