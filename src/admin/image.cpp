// The files of an area read whole for check, repair and who.
#include "admin/image.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "admin/admin.h"
#include "base/names.h"
#include "base/text.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kReadPause = 50;
constexpr unsigned kBlock = 1u << 16;

// The translation of a store path, "" when it has none.
std::string translate(const std::string& path) { return admin_translate(path); }

void read_data_header(const std::string& path, DataImage* d) {
  int fd = plat_sopen(path.c_str(), CLASSIC_O_RDONLY | CLASSIC_O_BINARY, PLAT_SH_DENYNO, 0);
  if (fd < 0) return;
  d->header_ok = plat_read(fd, &d->header, DATA_HEADER_SIZE) == DATA_HEADER_SIZE;
  long end = plat_lseek(fd, 0, SEEK_END);
  d->size = end < 0 ? 0 : end;
  plat_close(fd);
}

// The data files of the image's type in its folder: every name that the
// type's pattern gives for some suffix.
void read_data_files(CtlImage* image) {
  const char* pattern = image->type->pattern;
  size_t prefix = static_cast<size_t>(std::strchr(pattern, '%') - pattern);
  char wildcard[XLAT_PATH_SIZE];
  if (!data_file_path(wildcard, "", pattern, "???")) return;
  for (const std::string& name : folder_files(image->folder, wildcard)) {
    if (name.size() < prefix + 3) continue;
    DataImage d;
    for (size_t i = 0; i < 3; ++i) {
      d.suffix[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[prefix + i])));
    }
    d.suffix[3] = 0;
    char expected[XLAT_PATH_SIZE];
    int number = suffix_number(d.suffix);
    if (number < 0 || !data_file_path(expected, "", pattern, d.suffix) || !equal_nocase(expected, name.c_str())) {
      continue;
    }
    d.name = name;
    std::string file = translate(join_path(image->folder, name));
    if (!file.empty()) read_data_header(file, &d);
    image->data[number] = d;
    ++image->data_files;
  }
}

}  // namespace

FileState read_whole_file(const std::string& path, int share, int attempts, std::string* bytes) {
  bytes->clear();
  for (int attempt = 0; attempt < attempts; ++attempt) {
    errno = 0;
    int fd = plat_sopen(path.c_str(), CLASSIC_O_RDONLY | CLASSIC_O_BINARY, share, 0);
    if (fd < 0) {
      if (errno == ENOENT) return FileState::Missing;
      if (errno != EACCES) return FileState::Failed;
      plat_sleep(kReadPause);
      continue;
    }
    std::string block(kBlock, '\0');
    int n = 0;
    while ((n = plat_read(fd, block.data(), kBlock)) > 0) bytes->append(block.data(), static_cast<size_t>(n));
    plat_close(fd);
    return n == 0 ? FileState::Read : FileState::Failed;
  }
  return FileState::Held;
}

bool slot_used(const SlotRecord& slot) { return slot.data_offset != 0 || slot.data_length != 0; }

bool CtlImage::sound() const {
  return state == FileState::Read && whole &&
         (trailer.version == CTL_VERSION || trailer.version == CTL_OLD_VERSION);
}

CtlImage control_image(const std::string& folder, const std::string& name) {
  CtlImage image;
  image.folder = folder;
  image.name = name;
  image.path = join_path(folder, name);
  image.file = translate(image.path);
  image.type = find_item_type(name.c_str());
  std::memset(&image.trailer, 0, sizeof image.trailer);
  return image;
}

void parse_control_bytes(const std::string& bytes, CtlImage* image) {
  image->size = static_cast<int64_t>(bytes.size());
  image->whole = bytes.size() >= CTL_RECORD_SIZE && bytes.size() % CTL_RECORD_SIZE == 0;
  image->entries.clear();
  std::memset(&image->trailer, 0, sizeof image->trailer);
  if (bytes.size() < CTL_RECORD_SIZE) return;
  // A file cut short keeps its whole records; what it ends with stands
  // where the trailer would.
  size_t records = bytes.size() / CTL_RECORD_SIZE;
  size_t last = image->whole ? records - 1 : records;
  image->entries.resize(last);
  if (last) std::memcpy(image->entries.data(), bytes.data(), last * CTL_RECORD_SIZE);
  std::memcpy(&image->trailer, bytes.data() + bytes.size() - CTL_RECORD_SIZE, CTL_RECORD_SIZE);
}

std::string control_bytes(const std::vector<CtlEntry>& entries, const CtlTrailer& trailer) {
  std::string bytes;
  bytes.resize((entries.size() + 1) * CTL_RECORD_SIZE);
  if (!entries.empty()) std::memcpy(bytes.data(), entries.data(), entries.size() * CTL_RECORD_SIZE);
  std::memcpy(bytes.data() + entries.size() * CTL_RECORD_SIZE, &trailer, CTL_RECORD_SIZE);
  return bytes;
}

void read_image(CtlImage* image, bool with_data) {
  std::string bytes;
  image->state = image->file.empty() ? FileState::Failed
                                     : read_whole_file(image->file, PLAT_SH_DENYWR, READ_ATTEMPTS, &bytes);
  if (image->state == FileState::Read) parse_control_bytes(bytes, image);
  if (image->state == FileState::Failed) image->cause = admin_cause();
  image->data.clear();
  image->data_files = 0;
  if (image->type && with_data) read_data_files(image);
}

bool read_image_from(FILE* stream, CtlImage* image, bool with_data) {
  std::string bytes;
  std::string block(kBlock, '\0');
  if (plat_fseek(stream, 0, SEEK_SET) != 0) return false;
  size_t n = 0;
  while ((n = plat_fread(block.data(), 1, kBlock, stream)) > 0) bytes.append(block.data(), n);
  if (std::ferror(stream)) return false;
  image->state = FileState::Read;
  parse_control_bytes(bytes, image);
  image->data.clear();
  image->data_files = 0;
  if (image->type && with_data) read_data_files(image);
  return true;
}

std::string data_path(const CtlImage& image, const char* suffix) {
  char name[XLAT_PATH_SIZE];
  if (!image.type || !data_file_path(name, "", image.type->pattern, suffix)) return std::string();
  return join_path(image.folder, name);
}

std::vector<std::string> folder_files(const std::string& folder, const char* pattern) {
  std::vector<std::string> names;
  std::string where = translate(join_path(folder, pattern));
  if (where.empty()) return names;
  plat_find_data found;
  plat_find_handle search = plat_find_first(where.c_str(), &found);
  for (bool more = search != nullptr; more; more = plat_find_next(search, &found) != 0) {
    if (!(found.attributes & PLAT_ATTR_DIRECTORY)) names.push_back(found.name);
  }
  if (search) plat_find_close(search);
  return names;
}

std::vector<CtlImage> area_control_files(const std::string& area) {
  std::vector<CtlImage> files;
  files.push_back(control_image(area, LOGIN_CTL_NAME));
  for (const char* sub : {AREA_DATA_FOLDER, AREA_PARAM_FOLDER}) {
    std::string folder = join_path(area, sub);
    for (const std::string& name : folder_files(folder, CONTROL_FILES)) files.push_back(control_image(folder, name));
  }
  return files;
}

int suffix_number(const char* suffix) {
  int n = 0;
  for (int i = 0; i < 3; ++i) {
    if (suffix[i] < 'a' || suffix[i] > 'z') return -1;
    n = n * 26 + (suffix[i] - 'a');
  }
  return n;
}

std::string fixed_text(const char* text, size_t n) { return std::string(text, strnlen(text, n)); }

std::string item_name(const char* name) { return fixed_text(name, ITEM_NAME_SIZE); }

std::string join_path(const std::string& folder, const std::string& name) {
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
  return folder + "\\" + name;
}

AdminHolder trailer_holder(const CtlTrailer& t) {
  AdminHolder h;
  h.user = fixed_text(t.user, sizeof t.user);
  h.node = fixed_text(t.node, sizeof t.node);
  h.task_name = fixed_text(t.task_name, sizeof t.task_name);
  h.task_id = t.task_id;
  return h;
}

std::string holder_text(const AdminHolder& h) {
  return "user " + (h.user.empty() ? std::string("UNKNOWN") : h.user) + " on node " +
         (h.node.empty() ? std::string("-") : h.node) + ", task " + (h.task_name.empty() ? std::string("-") : h.task_name) +
         " (id " + std::to_string(h.task_id) + ")";
}
