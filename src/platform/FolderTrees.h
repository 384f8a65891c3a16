#pragma once

// Whole trees under an open folder, walked one open folder at a time: no step goes by path, so an
// entry that another account exchanges for a link meanwhile is never followed.

#include "platform/TreeTransfer.h"

#include <functional>
#include <optional>
#include <string>
#include <system_error>

namespace Plovermantle {

// Deeper than any world; a tree deeper still is refused rather than exhaust the stack.
inline constexpr int deepestTree = 512;

// Told what could not be removed (its path from the open folder, "name/inside") and why.
using RemovalFailure = std::function<void(const std::string& relative, std::error_code error)>;

// Removes the entry `name` of the open folder `parent` and everything in it, without following a
// link; true when nothing is left. The entry must be the user's own; inside it the superuser
// removes everything (it may have given the items to the server's account), anyone else only what
// they made, leaving what another account made as it is. A read-only folder of the user's is opened
// up through its own descriptor.
bool removeTreeAt(int parent, const std::string& name, const RemovalFailure& failed = {});

// What the tree of the open folder holds, the folder itself among its folders; links are not
// followed, and pipes, sockets and devices are left out. Nothing (errno set) when part of it
// cannot be read.
std::optional<TreeTotals> countOpenTree(int folder);

} // namespace Plovermantle
