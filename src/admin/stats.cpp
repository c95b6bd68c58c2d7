// Statistics over an area: per item type the live and deleted items and
// their bytes, the data files and what they hold beyond the items' bytes.
// Each control file is read whole once and each data file's header once.
#include <cctype>

#include "admin/admin.h"
#include "admin/image.h"
#include "base/text.h"

int admin_area_stats(const std::string& area, const std::string& type, std::vector<AdminTypeStats>* out) {
  out->clear();
  if (!admin_store_exists(area)) return CLASSIC_NOT_FOUND;
  for (CtlImage& image : area_control_files(area)) {
    if (!image.type) continue;  // login.ctl and unknown files
    if (!type.empty() && !equal_nocase(image.name.c_str(), type.c_str())) continue;
    read_image(&image, true);
    AdminTypeStats st;
    st.file = image.path;
    st.type = image.name.substr(0, image.name.find('.'));
    for (char& c : st.type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    st.readable = image.sound();
    for (const CtlEntry& e : image.entries) {
      int64_t size = e.size > 0 ? e.size : 0;
      if (e.flags & ENTRY_DELETED) {
        ++st.deleted;
        st.deleted_bytes += size;
      } else {
        ++st.live;
        st.live_bytes += size;
      }
    }
    for (const auto& entry : image.data) {
      ++st.data_files;
      st.data_bytes += entry.second.size;
    }
    out->push_back(st);
  }
  return CLASSIC_OK;
}
