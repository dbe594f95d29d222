// Fills a new store with a sample tree that shows every kind of content: a volume, projects,
// shared vaults, libraries, a bin, reels, folders and clips with clip formats, frames (with
// data) and metadata streams; some names hold spaces and non-ASCII UTF-8.
//
//   <root HOST>
//     Volume 1 (VOLUME)
//       Commercial (PROJECT) / Shared Vault (SHARED_VAULT)
//         Library A (LIBRARY)
//           Reel 1 (REEL): Shot 010, Shot 020 (CLIP)
//           Dailies (FOLDER): Take 1 (CLIP), Nested (FOLDER): Take 2 (CLIP)
//         Bin 1 (BIN): Coucher de soleil — café (CLIP)
//       Feature Film (PROJECT) / Vault (SHARED_VAULT) / Main (LIBRARY) / Reel 1 (REEL):
//         Opening (CLIP), Colour Bars (CLIP: 8 frames of 256 x 144 RGB colour bars)
//
// Throws ServerError when the store holds more than its root.
#pragma once

namespace vantreld {

class NodeStore;

void makeSampleTree(NodeStore& store);

}  // namespace vantreld
