#include "admin/damage.h"

#include <algorithm>
#include <cstring>

#include "support/ctl_files.h"
#include "support/items.h"

const std::string kArea = "C:\\userroot\\storage\\work";

void edit_entries(const std::function<void(Entries&, CtlTrailer&)>& change) {
  Entries entries = read_entries(kPieceCtl);
  CtlTrailer trailer = read_trailer(kPieceCtl);
  change(entries, trailer);
  write_control_file(kPieceCtl, entries, trailer);
}

void edit_slot(const std::string& suffix, int slot, const std::function<void(SlotRecord&)>& change) {
  std::string path = kWorkData + "piece" + suffix + ".pce";
  std::string bytes = testenv::read_file(path);
  ASSERT_GE(bytes.size(), sizeof(DataHeader));
  DataHeader h;
  std::memcpy(&h, bytes.data(), sizeof h);
  change(h.slots[slot]);
  bytes.replace(0, sizeof h, reinterpret_cast<const char*>(&h), sizeof h);
  testenv::write_file(path, bytes);
}

AdminScope area_scope() {
  AdminScope scope;
  scope.area = kArea;
  return scope;
}

AdminScope piece_scope() {
  AdminScope scope = area_scope();
  scope.type = "piece.ctl";
  return scope;
}

std::vector<std::string> finding_codes(const AdminCheckReport& report) {
  std::vector<std::string> codes;
  for (const AdminFinding& f : report.findings) {
    if (f.severity != ADMIN_NOTE) codes.push_back(f.code);
  }
  std::sort(codes.begin(), codes.end());
  return codes;
}

std::string report_text(const AdminCheckReport& report) {
  std::string text;
  for (const AdminFinding& f : report.findings) text += f.code + " " + f.file + " " + f.entry + ": " + f.what + "\n";
  return text;
}

void RepairStoreTest::SetUp() {
  StoreTest::SetUp();
  make_piece_store();
  ASSERT_EQ(classic_login_create(kArea.c_str()), CLASSIC_OK);
  ASSERT_EQ(admin_register_area('C', "work", ADMIN_AREA_VERSION), CLASSIC_OK);
  for (int i = 0; i < 10; ++i) {
    std::string name = "ITEM" + std::to_string(i);
    std::string bytes(static_cast<size_t>(20 + 7 * i), static_cast<char>('a' + i));
    ASSERT_EQ(put_item(kPieceCtl, name, bytes), CLASSIC_OK);
    committed_[name] = bytes;
  }
}

void RepairStoreTest::expect_committed() {
  for (const auto& [name, bytes] : committed_) EXPECT_EQ(get_item(kPieceCtl, name), bytes) << name;
}
