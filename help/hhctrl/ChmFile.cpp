#include "ChmFile.h"

#include <chm_lib.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace hhc {

namespace {
std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
int collect(chmFile*, chmUnitInfo* ui, void* context) {
  auto* files = static_cast<std::vector<std::string>*>(context);
  if (ui->path[0] == '/' && ui->path[1] != '#' && ui->path[1] != '$') files->emplace_back(ui->path);
  return CHM_ENUMERATOR_CONTINUE;
}
// Anything that big is not a help file of ours; guards the allocation.
constexpr unsigned long long kMaxObject = 64ull << 20;
}  // namespace

ChmFile::~ChmFile() { close(); }

void ChmFile::close() {
  if (h_) chm_close(h_);
  h_ = nullptr;
  files_.clear();
  contents_.clear();
  index_.clear();
  defaultTopic_.clear();
  title_.clear();
}

bool ChmFile::open(const std::string& path, std::string* error) {
  close();
  path_ = path;
  auto fail = [&](const std::string& why) {
    if (error) *error = "The help file \"" + path + "\" " + why;
    close();
    return false;
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return fail("does not exist.");
  if (!S_ISREG(st.st_mode)) return fail("is not a file.");
  // The library trusts the header; check its signature first.
  char magic[4] = {};
  {
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot be read.");
    in.read(magic, 4);
    if (in.gcount() != 4 || std::memcmp(magic, "ITSF", 4) != 0 || st.st_size < 0x60)
      return fail("is not a compiled help file, or it is damaged.");
  }
  h_ = chm_open(path.c_str());
  if (!h_) return fail("is damaged and cannot be opened.");
  chm_enumerate(h_, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, collect, &files_);
  if (files_.empty()) return fail("holds no pages: it is damaged.");
  readSystem();
  return true;
}

std::optional<std::string> ChmFile::read(const std::string& name) const {
  if (!h_ || name.empty()) return std::nullopt;
  const std::string p = name[0] == '/' ? name : "/" + name;
  chmUnitInfo ui{};
  if (chm_resolve_object(h_, p.c_str(), &ui) != CHM_RESOLVE_SUCCESS) return std::nullopt;
  if (ui.length > kMaxObject) return std::nullopt;
  std::string buf(static_cast<size_t>(ui.length), '\0');
  if (ui.length == 0) return buf;
  const LONGINT64 got = chm_retrieve_object(h_, &ui, reinterpret_cast<unsigned char*>(buf.data()),
                                            0, static_cast<LONGINT64>(ui.length));
  if (got <= 0) return std::nullopt;
  buf.resize(static_cast<size_t>(got));
  return buf;
}

bool ChmFile::exists(const std::string& name) const {
  if (!h_ || name.empty()) return false;
  const std::string p = name[0] == '/' ? name : "/" + name;
  chmUnitInfo ui{};
  return chm_resolve_object(h_, p.c_str(), &ui) == CHM_RESOLVE_SUCCESS;
}

void ChmFile::readSystem() {
  // #SYSTEM: a version word, then records of code, length, data.
  if (auto sys = read("/#SYSTEM"); sys && sys->size() > 4) {
    const std::string& s = *sys;
    size_t at = 4;
    while (at + 4 <= s.size()) {
      const unsigned code =
          static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
      const size_t len =
          static_cast<unsigned char>(s[at + 2]) | static_cast<unsigned char>(s[at + 3]) << 8;
      at += 4;
      if (at + len > s.size()) break;
      std::string v = s.substr(at, len);
      v = v.substr(0, v.find('\0'));
      at += len;
      if (code == 0) contents_ = v;
      if (code == 1) index_ = v;
      if (code == 2) defaultTopic_ = v;
      if (code == 3) title_ = v;
    }
  }
  auto norm = [](std::string& f) {
    if (!f.empty() && f[0] != '/') f.insert(f.begin(), '/');
  };
  norm(contents_);
  norm(index_);
  norm(defaultTopic_);
  for (const auto& f : files_) {
    const std::string l = lower(f);
    if (contents_.empty() && endsWith(l, ".hhc")) contents_ = f;
    if (index_.empty() && endsWith(l, ".hhk")) index_ = f;
  }
  if (defaultTopic_.empty() || !exists(defaultTopic_)) {
    defaultTopic_.clear();
    for (const auto& f : files_) {
      const std::string l = lower(f);
      if (endsWith(l, ".htm") || endsWith(l, ".html")) {
        if (defaultTopic_.empty() || l == "/index.htm" || l == "/index.html") defaultTopic_ = f;
      }
    }
  }
}

std::string resolveInside(const std::string& base, const std::string& ref) {
  std::string joined;
  if (!ref.empty() && ref[0] == '/') {
    joined = ref;
  } else {
    const auto slash = base.rfind('/');
    joined = (slash == std::string::npos ? std::string("/") : base.substr(0, slash + 1)) + ref;
  }
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= joined.size()) {
    const size_t j = std::min(joined.find('/', i), joined.size());
    const std::string part = joined.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const auto& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string pageProblem(std::string_view data) {
  if (data.size() > kMaxPageBytes) return "it is larger than 1 MB";
  std::size_t control = 0;
  for (const unsigned char c : data)
    control += c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f';
  // Text has none; a stray one or two is no damage.
  if (control > 2 + data.size() / 200) return "it is not text";
  return {};
}

}  // namespace hhc
