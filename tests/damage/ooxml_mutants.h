// Mutants of an OOXML package (the docx, xlsx and pptx families): the ZIP
// container and the parts inside it, each damaged in the ways a package
// can be.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "damage/damage.h"

namespace damage {

// Parts of a package in archive order: (name, XML).
using OoxmlParts = std::vector<std::pair<std::string, std::string>>;

// The parts deflated into a ZIP archive (no descriptors, no extra fields).
Bytes ZipOoxmlParts(const OoxmlParts& parts);

// The parts of an archive made by ZipOoxmlParts, taken back (empty when it
// is not one).
OoxmlParts UnzipOoxmlParts(const Bytes& zip);

// Appends the mutants of seed (an archive made by ZipOoxmlParts), the
// kinds taken in turn so that any budget gets some of each:
//   - cuts, the first ones at each local header, each entry's data end, the
//     directory, each directory entry and the end record;
//   - each entry's compressed bytes damaged (at its start, middle and end);
//   - each CRC-32 changed in the local header, the directory or both;
//   - each size, offset, count and length field of the local headers, the
//     directory entries and the end record set to 0, smaller, larger and
//     past the end;
//   - each part removed with its directory entry ([Content_Types].xml and
//     the relationships parts among them);
//   - each internal relationship retargeted at a part that is not there
//     or at another part, each relationship removed, each Override of the
//     content types removed;
//   - the XML of each part cut at several points, zipped again with sizes
//     that fit.
void AddOoxmlMutants(const Bytes& seed, std::uint64_t rng, std::size_t budget, std::vector<Mutant>& out);

// Text of paragraphs for the seeds: XML-escaped line.
std::string XmlText(const std::u16string& line);

}  // namespace damage
