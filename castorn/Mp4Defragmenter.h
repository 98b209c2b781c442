// A finished fragmented MP4 made an ordinary one that any player seeks in at once:
// its ftyp, one moov that indexes every sample, then one mdat with the media data
// byte for byte in the order it had. The new file is written beside the old one and
// takes its place only once it is whole, so that a crash meanwhile leaves the
// fragmented file as it was; so does any trouble, which `why` then tells.
#pragma once

#include <string>

namespace castorn {

bool DefragmentMp4(const std::string& path, std::string& why);

}  // namespace castorn
