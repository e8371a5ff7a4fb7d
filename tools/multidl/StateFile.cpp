#include "StateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "download/ResourceState.h"

namespace multidl {

std::string StateFileName(const std::string& localFile) {
  return localFile + ".multidl";
}

std::string WriteStateText(const SavedMap& map) {
  nlohmann::ordered_json json;
  json["URL"] = map.url;
  json["ResourceSize"] = map.resourceSize;
  json["MapDate"] = map.mapDate;
  json["ETag"] = map.etag;
  json["LastModified"] = map.lastModified;
  json["Segments"] = nlohmann::ordered_json::array();
  for (const SavedSegment& s : map.segments) {
    json["Segments"].push_back({{"ResourcePos", s.resourcePos},
                                {"BytesToProceed", s.bytesToProceed},
                                {"BytesProceed", s.bytesProceed}});
  }
  return json.dump(1) + "\n";
}

std::optional<SavedMap> ReadStateText(const std::string& text) {
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  auto integer = [](const nlohmann::json& object, const char* name, std::int64_t& value) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_number_integer()) return false;
    value = found->get<std::int64_t>();
    return value >= 0;
  };
  SavedMap map;
  const auto url = json.find("URL");
  const auto date = json.find("MapDate");
  const auto segments = json.find("Segments");
  if (url == json.end() || !url->is_string() || date == json.end() || !date->is_number() ||
      segments == json.end() || !segments->is_array() || segments->empty()) {
    return std::nullopt;
  }
  map.url = url->get<std::string>();
  map.mapDate = date->get<double>();
  const auto etag = json.find("ETag");
  const auto lastModified = json.find("LastModified");
  if (etag != json.end() && lastModified != json.end()) {
    if (!etag->is_string() || !lastModified->is_string()) return std::nullopt;
    map.hasValidators = true;
    map.etag = etag->get<std::string>();
    map.lastModified = lastModified->get<std::string>();
  }
  if (!integer(json, "ResourceSize", map.resourceSize) || map.resourceSize == 0)
    return std::nullopt;
  for (const nlohmann::json& entry : *segments) {
    SavedSegment s;
    if (!entry.is_object() || !integer(entry, "ResourcePos", s.resourcePos) ||
        !integer(entry, "BytesToProceed", s.bytesToProceed) ||
        !integer(entry, "BytesProceed", s.bytesProceed)) {
      return std::nullopt;
    }
    if (s.resourcePos + s.bytesToProceed > map.resourceSize || s.bytesProceed > s.bytesToProceed) {
      return std::nullopt;
    }
    map.segments.push_back(s);
  }
  return map;
}

std::string UrlWithoutPassword(const std::string& url) {
  const std::size_t start = url.find("://");
  if (start == std::string::npos) return url;
  const std::size_t hostEnd = url.find_first_of("/?#", start + 3);
  const std::size_t at = url.rfind('@', hostEnd == std::string::npos ? url.size() : hostEnd);
  if (at == std::string::npos || at < start + 3) return url;
  const std::size_t colon = url.find(':', start + 3);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon) + url.substr(at);
}

namespace {

bool WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Rewrites the file where it stands: on a full disk its own blocks are the
// only room left.
bool RewriteInPlace(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0;
  ok = ::close(fd) == 0 && ok;
  return ok;
}

}  // namespace

bool ReserveStateFile(const std::string& path, const std::string& url) {
  // Refused by ReadStateText (no segments), so a run killed before its first
  // save leaves nothing that -c would take for a map.
  nlohmann::ordered_json json;
  json["URL"] = UrlWithoutPassword(url);
  json["Segments"] = nlohmann::ordered_json::array();
  std::string text = json.dump();
  text.resize(std::max<std::size_t>(text.size(), 4096), ' ');
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, text + "\n");
  ok = ::close(fd) == 0 && ok;
  return ok;
}

bool SaveStateFile(const std::string& path, const SavedMap& map) {
  const std::string temporary = path + ".tmp";
  const std::string text = WriteStateText(map);
  // Created readable by its owner only: it names what the user fetches.
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool ok = fd >= 0 && ::fchmod(fd, 0600) == 0 && WriteAll(fd, text);
  if (fd >= 0) ok = ::close(fd) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return RewriteInPlace(path, text);
}

std::optional<SavedMap> LoadStateFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return ReadStateText(text.str());
}

SavedMap CaptureMap(const TclResourceState& state, rtl::DateTime mapDate, const std::string& etag,
                    const std::string& lastModified, const std::string& url) {
  SavedMap map;
  map.url = UrlWithoutPassword(url);
  map.resourceSize = state.ResourceSize();
  map.mapDate = mapDate;
  map.hasValidators = true;
  map.etag = etag;
  map.lastModified = lastModified;
  for (int i = 0; i < state.Count(); ++i) {
    const TclResourceStateItem& segment = *state.Items(i);
    map.segments.push_back(
        {segment.ResourcePos(), segment.BytesToProceed(), segment.BytesProceed()});
  }
  return map;
}

void RestoreMap(const SavedMap& map, TclResourceState& state) {
  // Only Init and Assign give a map its size: build the map apart, then copy it in.
  TclResourceState restored;
  restored.Init(static_cast<int>(map.segments.size()), map.resourceSize);
  for (std::size_t i = 0; i < map.segments.size(); ++i) {
    TclResourceStateItem* segment = restored.Items(static_cast<int>(i));
    segment->SetResourcePos(map.segments[i].resourcePos);
    segment->SetBytesToProceed(map.segments[i].bytesToProceed);
    segment->SetBytesProceed(map.segments[i].bytesProceed);
  }
  state.Assign(restored);
}

}  // namespace multidl
