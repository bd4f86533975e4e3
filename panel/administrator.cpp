#include "panel/administrator.h"

#include <memory>

#include <windows.h>

namespace {

struct SidRelease {
    void operator()(void* sid) const { FreeSid(sid); }
};

}  // namespace

bool is_administrator() {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid)) {
        return false;
    }
    std::unique_ptr<void, SidRelease> owned(sid);
    BOOL member = FALSE;
    return CheckTokenMembership(nullptr, sid, &member) && member;
}
