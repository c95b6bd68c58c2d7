// Who works in an area now: its logins, the control files held by a live
// session or marked by a session that is gone, the items open, and its
// area lock.  Nothing is written.
#include <new>

#include "admin/admin.h"
#include "admin/survey.h"

int admin_who(const std::string& area, AdminWho* out) {
  try {
    *out = AdminWho{};
    out->area = area;
    if (!admin_store_exists(area)) return CLASSIC_NOT_FOUND;
    AreaSurvey s = survey_area(area, "", false, false);
    const CtlImage& login = s.files[0];
    out->login_ctl = login.sound();
    if (out->login_ctl) {
      out->logins = login.trailer.total_items;
      out->logins2 = login.trailer.open_count;
    }
    out->login_files = s.login_files;
    out->locked_files = s.locked;
    out->login_locked = s.login_locked;
    for (const CtlImage& image : s.files) {
      if (image.state != FileState::Missing) ++out->control_files;
      if (image.state == FileState::Held || (image.sound() && image.trailer.lock_state == LOCK_SESSION)) {
        AdminHeldFile held;
        held.file = image.path;
        held.live = image.state == FileState::Held;
        if (!held.live) held.holder = trailer_holder(image.trailer);
        out->held.push_back(held);
      }
      if (!image.sound() || !image.type) continue;
      for (const CtlEntry& e : image.entries) {
        if (e.open_state == 0) continue;
        AdminOpenItem item;
        item.file = image.path;
        item.name = item_name(e.name);
        item.open_state = e.open_state;
        item.deleted = (e.flags & ENTRY_DELETED) != 0;
        item.since = e.open_state < 0 ? e.modified : e.accessed;
        item.user = fixed_text(e.modifier, USER_ID_SIZE);
        out->open_items.push_back(item);
      }
    }
    return CLASSIC_OK;
  } catch (const std::bad_alloc&) {
    return CLASSIC_NO_MEMORY;
  }
}
