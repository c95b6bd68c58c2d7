// Drive and host configuration: the station file and QUEUE.
#include <gtest/gtest.h>

#include <string>

#include "classic.h"
#include "platform/platform.h"
#include "storage/hostinfo.h"
#include "base/text.h"
#include "storage/netxlat.h"
#include "support/store_test.h"

namespace {

const char* kStation = "c:\\userroot\\prog\\util\\network.cfg";

// A station file of size bytes: node field, byte 80 and bytes 160-161.
void station_file(const std::string& node, char letter, const std::string& on, size_t size = 200) {
  std::string bytes(size, 'x');
  for (size_t i = 0; i < 4 && i < size; ++i) bytes[i] = i < node.size() ? node[i] : ' ';
  if (size > 80) bytes[80] = letter;
  if (size > 161) {
    bytes[160] = on[0];
    bytes[161] = on[1];
  }
  testenv::write_file(kStation, bytes);
}

struct DriveInfo {
  char net = 0;
  char server = 0;
  char node[5] = {};
  char copy[5] = {};
};

DriveInfo drive_info() {
  DriveInfo d;
  classic_get_driveinfo(&d.net, &d.server, d.node, d.copy);
  return d;
}

class HostInfoTest : public StoreTest {};

TEST_F(HostInfoTest, StationFileInUseWithoutQueue) {
  station_file("NODE", 'G', "ON");
  DriveInfo d = drive_info();
  EXPECT_EQ(d.net, 'G');
  EXPECT_EQ(d.server, 'G');
  EXPECT_STREQ(d.node, "NODE");
  EXPECT_STREQ(d.copy, "NODE");
  EXPECT_EQ(network_drive_letter(), 'G');
}

TEST_F(HostInfoTest, ServerQueueWithStationFile) {
  station_file("NODE", 'G', "ON");
  plat_setenv("QUEUE", "SERV,F:ABCD");
  DriveInfo d = drive_info();
  EXPECT_EQ(d.net, 'G');
  EXPECT_EQ(d.server, 'G');
  EXPECT_STREQ(d.node, "NODE");
}

TEST_F(HostInfoTest, ServerQueueWithoutStationFile) {
  plat_setenv("QUEUE", "SERV,F:ABCD");
  DriveInfo d = drive_info();
  EXPECT_EQ(d.net, '!');
  EXPECT_EQ(d.server, 'F');
  EXPECT_STREQ(d.node, "ABCD");
  // Lower case: still the server form; the node name is upper-cased, the
  // server drive kept as written.
  plat_setenv("QUEUE", "serv,f:abcdefg");
  d = drive_info();
  EXPECT_EQ(d.server, 'f');
  EXPECT_STREQ(d.node, "ABCD");
  EXPECT_STREQ(d.copy, "ABCD");
}

TEST_F(HostInfoTest, ServerQueueWithStationFileWithoutNetworkLetter) {
  station_file("ST", 'c', "ON");
  plat_setenv("QUEUE", "SERV,F:ABCD");
  DriveInfo d = drive_info();
  EXPECT_EQ(d.net, '!');
  EXPECT_EQ(d.server, 'F');
  EXPECT_STREQ(d.node, "ST");
}

TEST_F(HostInfoTest, PeerQueueNeverReadsTheStationFile) {
  station_file("NODE", 'G', "ON");
  plat_setenv("QUEUE", "PEER,abcd");
  DriveInfo d = drive_info();
  EXPECT_EQ(d.net, '!');
  EXPECT_EQ(d.server, 0);
  EXPECT_STREQ(d.node, "ABCD");
}

TEST_F(HostInfoTest, UnusableQueueValues) {
  station_file("NODE", 'G', "ON");
  // Seven characters: all results empty, the station file not even read.
  plat_setenv("QUEUE", "SERV,F:");
  DriveInfo d = drive_info();
  EXPECT_EQ(d.net, '!');
  EXPECT_EQ(d.server, 0);
  EXPECT_STREQ(d.node, "");
  plat_setenv("QUEUE", "SERV,FxABCD");
  d = drive_info();
  EXPECT_EQ(d.net, '!');
  EXPECT_STREQ(d.node, "");
  plat_setenv("QUEUE", "XXXX,ABCD");
  d = drive_info();
  EXPECT_EQ(d.net, '!');
  EXPECT_EQ(d.server, 0);
  EXPECT_STREQ(d.node, "");
  // Five characters or no comma in fifth place: as if unset.
  for (const char* v : {"PEER,", "SERV;F:ABCD", ""}) {
    plat_setenv("QUEUE", v);
    d = drive_info();
    EXPECT_EQ(d.net, 'G') << v;
    EXPECT_STREQ(d.node, "NODE") << v;
  }
}

TEST_F(HostInfoTest, StationFileCountsAsAbsentUnlessOnAndWhole) {
  DriveInfo d = drive_info();
  EXPECT_EQ(d.net, '!');
  EXPECT_EQ(d.server, 0);
  EXPECT_STREQ(d.node, "");
  station_file("NODE", 'G', "OF");
  EXPECT_EQ(drive_info().net, '!');
  station_file("NODE", 'G', "ON", 199);
  EXPECT_EQ(drive_info().net, '!');
  station_file("NODE", 'g', "on");
  d = drive_info();
  EXPECT_EQ(d.net, 'G');
  EXPECT_STREQ(d.node, "NODE");
}

TEST_F(HostInfoTest, NodeNameField) {
  station_file("AB  ", 'G', "ON");
  EXPECT_STREQ(drive_info().node, "AB");
  testenv::write_file(kStation, std::string("ABCDEFG") + std::string(193, 'x'));
  std::string bytes = testenv::read_file(kStation);
  bytes[160] = 'O';
  bytes[161] = 'N';
  testenv::write_file(kStation, bytes);
  EXPECT_STREQ(drive_info().node, "ABCD");
  station_file(" BCD", 'G', "ON");
  EXPECT_STREQ(drive_info().node, "");
  station_file("ab", 'G', "ON");
  EXPECT_STREQ(drive_info().node, "AB");
}

TEST_F(HostInfoTest, HostInformationIsGatheredOncePerProcess) {
  station_file("ONE", 'G', "ON");
  char out[300];
  EXPECT_EQ(classic_netxlat("d:\\x", out), CLASSIC_OK);
  EXPECT_STREQ(host_info().node, "ONE");
  EXPECT_EQ(host_info().network_drive, 'G');
  station_file("TWO", 'H', "ON");
  EXPECT_EQ(classic_netxlat("d:\\x", out), CLASSIC_OK);
  EXPECT_STREQ(host_info().node, "ONE");
  // A direct call gives fresh values and resets the network drive letter,
  // but does not refill the record.
  DriveInfo d = drive_info();
  EXPECT_EQ(d.net, 'H');
  EXPECT_EQ(network_drive_letter(), 'H');
  EXPECT_STREQ(host_info().node, "ONE");
}

TEST_F(HostInfoTest, UpcaseNameLeavesDoubleByteCharactersAlone) {
  plat_set_codepage(932);
  char text[] = "ab\x82\x61z";  // 0x82 0x61 is one double-byte character
  upcase_name(text);
  EXPECT_STREQ(text, "AB\x82\x61Z");
}

}  // namespace
