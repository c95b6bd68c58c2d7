/* A host program of the x86 DLL, written as a CAD host system takes the
 * library in: it loads classic.dll at run time, finds every function it
 * calls by its undecorated name, hands the DLL its own C streams and walks
 * the item lists through the records' 4-byte links, read at their byte
 * offsets.  It creates three items, reads them back in the three ways a
 * host can (an open, a raw copy, a look-up), lists them whole and by block,
 * and reads the exported variable the block listing sets.
 * Exit status 0 when everything held; each failure is printed. */
#include <windows.h>

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "classic.h"

/* The record as the x86 host sees it: 192 bytes, previous and next links at
 * 184 and 188. */
_Static_assert(sizeof(CTRL_ENTRY_INFO) == 192, "CTRL_ENTRY_INFO is 192 bytes on x86");
_Static_assert(offsetof(CTRL_ENTRY_INFO, prev) == 184, "prev link at 184");
_Static_assert(offsetof(CTRL_ENTRY_INFO, next) == 188, "next link at 188");
_Static_assert(offsetof(CTRL_ENTRY_INFO, size) == 168, "size at 168");

typedef int (*create_ctl_fn)(const char*);
typedef int (*open_fn)(const char*, const char*, short, const char*, FILE**, long*,
                       CTRL_ENTRY_INFO*);
typedef int (*close_fn)(const char*, const char*, FILE*);
typedef int (*lookup_fn)(const char*, const char*, CTRL_ENTRY_INFO*);
typedef int (*copy_raw_fn)(const char*, const char*, const char*, unsigned long*);
typedef CTRL_ENTRY_INFO* (*list_fn)(const char*, const char*, long*, long*, char*, int*);
typedef int (*free_list_fn)(CTRL_ENTRY_INFO*);
typedef int (*blk_fn)(const char*, const char*, int, long*, long*, CTRL_ENTRY_INFO**);

static const char* const kPattern = "piece%c%c%c.pce";
static const char* const kNames[3] = {"FRONT", "BACK", "SLEEVE"};
static const char* const kBytes[3] = {"front panel, 24 points", "back", "sleeve with a cuff"};

static int failures = 0;

static void check(int ok, const char* what, long got) {
  if (!ok) {
    printf("FAILED: %s (got %ld)\n", what, got);
    failures++;
  }
}

static HMODULE dll;

/* An export by name, as the generic pointer each caller casts to its type. */
typedef void (*any_fn)(void);
static any_fn need(const char* name) {
  FARPROC f = GetProcAddress(dll, name);
  if (!f) {
    printf("FAILED: classic.dll exports no %s\n", name);
    ExitProcess(1);
  }
  return (any_fn)f;
}

/* The record a 4-byte link at byte offset `at` of rec points to. */
static const unsigned char* link_at(const unsigned char* rec, size_t at) {
  uint32_t link;
  memcpy(&link, rec + at, sizeof link);
  return (const unsigned char*)(uintptr_t)link;
}

static int index_of(const char* name) {
  for (int i = 0; i < 3; i++) {
    if (strcmp(name, kNames[i]) == 0) return i;
  }
  return -1;
}

int main(void) {
  dll = LoadLibraryA("classic.dll");
  if (!dll) {
    printf("FAILED: LoadLibrary(classic.dll), error %lu\n", GetLastError());
    return 1;
  }
  create_ctl_fn create_ctl = (create_ctl_fn)need("classic_create_control_file");
  open_fn open_item = (open_fn)need("classic_open_item");
  close_fn close_item = (close_fn)need("classic_close_item");
  lookup_fn lookup = (lookup_fn)need("classic_lookup_item");
  copy_raw_fn copy_raw = (copy_raw_fn)need("classic_copy_raw_item");
  list_fn list = (list_fn)need("classic_return_item_list");
  free_list_fn free_list = (free_list_fn)need("classic_free_item_list");
  blk_fn blk = (blk_fn)need("classic_get_blk_items");
  const int32_t* blk_count = (const int32_t*)need("classic_blk_count");

  /* A fresh area of this process's own. */
  char area[MAX_PATH], ctl[MAX_PATH];
  snprintf(area, sizeof area, "c:\\userroot\\storage\\host%lu", GetCurrentProcessId());
  const char* dirs[] = {"c:\\userroot", "c:\\userroot\\storage", area, NULL, "c:\\userroot\\system",
                        "c:\\userroot\\system\\error"};
  char data[MAX_PATH];
  snprintf(data, sizeof data, "%s\\data", area);
  dirs[3] = data;
  for (size_t i = 0; i < sizeof dirs / sizeof *dirs; i++) CreateDirectoryA(dirs[i], NULL);
  snprintf(ctl, sizeof ctl, "%s\\piece.ctl", data);
  check(create_ctl(ctl) == CLASSIC_OK, "create the control file", 0);

  /* Three new items, written through the stream the DLL opened. */
  for (int i = 0; i < 3; i++) {
    FILE* stream = NULL;
    int r = open_item(ctl, kNames[i], ITEM_WRITE | ITEM_CREATE, kPattern, &stream, NULL, NULL);
    check(r == CLASSIC_OK && stream, "create an item", r);
    if (r != CLASSIC_OK) return 1;
    size_t n = strlen(kBytes[i]);
    check(fwrite(kBytes[i], 1, n, stream) == n, "write an item's bytes", 0);
    r = close_item(ctl, kNames[i], stream);
    check(r == CLASSIC_OK, "close a new item", r);
  }

  /* Read back: open and read, a raw copy into the host's own stream, and a
   * look-up of the entry. */
  for (int i = 0; i < 3; i++) {
    size_t n = strlen(kBytes[i]);
    char buf[64] = {0};
    FILE* stream = NULL;
    long size = -1;
    int r = open_item(ctl, kNames[i], 0, kPattern, &stream, &size, NULL);
    check(r == CLASSIC_OK && size == (long)n, "open an item for reading, with its size", size);
    if (r != CLASSIC_OK) continue;
    check(fread(buf, 1, n, stream) == n && memcmp(buf, kBytes[i], n) == 0,
          "read an item's bytes", 0);
    r = close_item(ctl, kNames[i], stream);
    check(r == CLASSIC_OK, "close an item read", r);

    FILE* copy = tmpfile();
    r = copy_raw(ctl, kNames[i], kPattern, (unsigned long*)copy);
    memset(buf, 0, sizeof buf);
    rewind(copy);
    check(r == CLASSIC_OK && fread(buf, 1, sizeof buf, copy) == n && memcmp(buf, kBytes[i], n) == 0,
          "raw copy into the host's stream", r);
    fclose(copy);

    CTRL_ENTRY_INFO info;
    memset(&info, 0, sizeof info);
    r = lookup(ctl, kNames[i], &info);
    check(r == CLASSIC_OK, "look the item up", r);
    check(strcmp(info.name, kNames[i]) == 0 && info.size == (int32_t)n && info.found == 1 &&
              info.open_state == 0 && info.created != 0 && !info.prev && !info.next,
          "the looked-up entry: name, size, found, closed, created, no links", info.size);
  }

  /* The whole list: every item once, each record's links mirroring its
   * neighbours', the sizes matching the names. */
  long offset = 0, position = 0;
  char more = 1;
  int status = 0;
  CTRL_ENTRY_INFO* head = list(ctl, "*", &offset, &position, &more, &status);
  check(head && status == CLASSIC_OK && more == 0, "list every item", status);
  check(offset == 3 * 64, "the offset grows by 64 bytes a record", offset);
  int seen = 0, count = 0;
  const unsigned char* prev = NULL;
  for (const unsigned char* rec = (const unsigned char*)head; rec && count < 10;
       prev = rec, rec = link_at(rec, 188), count++) {
    int i = index_of((const char*)rec);
    int32_t size;
    memcpy(&size, rec + 168, sizeof size);
    check(i >= 0 && !(seen & (1 << i)), "a listed name is one of the items, once", i);
    if (i >= 0) check(size == (int32_t)strlen(kBytes[i]), "a listed size", size);
    if (i >= 0) seen |= 1 << i;
    check(link_at(rec, 184) == prev, "the previous link points to the record before", count);
  }
  check(count == 3 && seen == 7, "the list holds the three items", count);
  check(free_list(head) == CLASSIC_OK, "free the list", 0);

  /* One block of the items beginning with S: SLEEVE alone, and the exported
   * count set to the control file's items. */
  long first = -1;
  CTRL_ENTRY_INFO* items = NULL;
  offset = 0;
  int r = blk(ctl, "S*", 42, &offset, &first, &items);
  check(r == CLASSIC_OK && items && strcmp(items->name, "SLEEVE") == 0 && !link_at((const unsigned char*)items, 188),
        "a block of the items beginning with S", r);
  check(*blk_count == 3, "classic_blk_count after a block", *blk_count);

  if (failures) return 1;
  printf("classic.dll: 3 items created, read back, listed and walked through 4-byte links\n");
  return 0;
}
