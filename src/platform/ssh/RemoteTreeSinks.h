#pragma once

#include "platform/ServerFolder.h"

#include <memory>

namespace Plovermantle {

class RemoteServerFolder;

// Streams the tree as a tar archive into `tar -x` on the host: one exec channel, no round trip
// per file. The root folder is made over SFTP first, so that a tree already there is refused.
std::unique_ptr<TreeSink> makeTarSink(RemoteServerFolder& folder, const std::string& relative,
                                      const OwnershipPlan& ownership, const Account& account);
// Writes the tree file by file over SFTP, for accounts without a shell.
std::unique_ptr<TreeSink> makeSftpSink(RemoteServerFolder& folder, const std::string& relative,
                                       const OwnershipPlan& ownership);

} // namespace Plovermantle
