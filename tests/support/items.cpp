#include "support/items.h"

#include <cstdio>
#include <vector>

#include "support/store_test.h"

const std::string kWorkData = "c:\\userroot\\storage\\work\\data\\";
const std::string kPieceCtl = kWorkData + "piece.ctl";
const char* const kPiecePattern = "piece%c%c%c.pce";

void make_piece_store() {
  testenv::make_dirs(kWorkData);
  testenv::make_dirs("c:\\userroot\\system\\error");
  ASSERT_EQ(classic_create_control_file(kPieceCtl.c_str()), CLASSIC_OK);
}

int put_item(const std::string& ctl, const std::string& name, const std::string& bytes, short mode,
             const char* pattern) {
  FILE* stream = nullptr;
  int r = classic_open_item(ctl.c_str(), name.c_str(), mode, pattern, &stream, nullptr, nullptr);
  if (r != CLASSIC_OK) return r;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
    classic_close_item(ctl.c_str(), name.c_str(), stream);
    return CLASSIC_IO_ERROR;
  }
  return classic_close_item(ctl.c_str(), name.c_str(), stream);
}

std::string get_item(const std::string& ctl, const std::string& name, const char* pattern) {
  FILE* stream = nullptr;
  long size = -1;
  int r = classic_open_item(ctl.c_str(), name.c_str(), 0, pattern, &stream, &size, nullptr);
  if (r != CLASSIC_OK) return "status " + std::to_string(r);
  std::vector<char> buf(static_cast<size_t>(size > 0 ? size : 0));
  size_t got = buf.empty() ? 0 : std::fread(buf.data(), 1, buf.size(), stream);
  r = classic_close_item(ctl.c_str(), name.c_str(), stream);
  if (r != CLASSIC_OK) return "status " + std::to_string(r);
  return std::string(buf.data(), got);
}
