// Whether the user may change the server: view mode is for users outside the
// local Administrators group.
#pragma once

// Membership of the calling thread's token in the built-in Administrators
// group; any failure counts as not being a member.
bool is_administrator();
