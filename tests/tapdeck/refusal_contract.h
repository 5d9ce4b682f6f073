// What a person cannot do, as one table that both builds must answer word
// for word: the host's window system in tapdeck_page_tests, real windows
// under Wine in tapdeck_page_wine_tests. It walks tapdeck's own templates
// with page procedures of its own: a page set of two pages, a message box,
// the file-open dialog, a dialog with disabled controls and one without a
// Done button, and tries at each stop what a person could not do there.
#pragma once

namespace refusal_contract {

// On a fresh device, with no window of an earlier test left.
void RunRefusalContract();

}  // namespace refusal_contract
