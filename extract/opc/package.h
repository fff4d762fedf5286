// Open Packaging Conventions package reader (the container of .docx, .xlsx
// and .pptx files).
//
// PackageOpen scans the ZIP archive, reads "[Content_Types].xml" and the
// relationships parts, and keeps the parts sorted by name (byte order).
// A part's XML is read as a node stream through the markup-compatibility
// reader: PackageOpenPart prepares an McReaderState over the part's data,
// the caller advances with McReaderRead / McReaderNext and ends with
// McReaderCleanup (which also closes the part's data stream).
//
// Part names are given with or without a leading "/". Errors in the
// content-types and relationships parts are reported and stop the taking of
// further entries of that part; the package still opens. A relationship or
// Override naming a part that is not there is recorded (missingParts) and
// passed over. Damage met on the way (a ZIP structure that contradicts
// itself, part data that fails its checks, content types or relationships
// whose XML or values are broken) is noted with plat::NoteDamage.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "extract/opc/mcreader.h"
#include "extract/opc/opczip.h"

struct OpcRelationship {
    std::string id;
    std::string type;
    bool external = false;
    std::string target;  // a part name, or the external target as given
};

// A part the package names and does not hold: the target of an internal
// relationship (source: the part whose relationships name it, "" for the
// package's; relationshipType set) or the name of an Override (contentType
// set). part is the name resolved as far as it goes; a target above the
// package's root is missing too.
struct OpcMissingPart {
    std::string source;
    std::string relationshipType;
    std::string contentType;
    std::string part;
};

struct OpcPart {
    std::string overrideType;      // from an Override, empty when none
    bool hasOverride = false;
    int32_t firstSegment = -1;     // -1: the part has no data
    int32_t lastSegment = -1;
    int32_t relsSegment = -1;
    bool interleaved = false;      // stored in pieces ("[n].piece" entries)
    std::vector<OpcRelationship> relationships;  // sorted by id
};

struct OpcPackage {
    OpcIo io;
    OpcZip zip;
    int mode = 0;
    std::map<std::string, OpcPart> parts;          // sorted by name, byte order
    std::map<std::string, std::string> extensions;  // Default: extension -> content type
    int32_t contentTypesSegment = -1;
    int32_t packageRelsSegment = -1;
    std::vector<OpcRelationship> packageRelationships;
    void* user = nullptr;
    // First error met in the content types (0 none) and in any relationships part.
    int32_t contentTypesError = 0;
    int32_t relationshipsError = 0;
    // False when "[Content_Types].xml" is present but was not read to its
    // end (refused, or its XML failed): parts may lack their types.
    bool contentTypesRead = true;
    // Parts named by relationships or Overrides and not held, in the order
    // met. Such relationships are not taken (the entries after them are).
    std::vector<OpcMissingPart> missingParts;
};

// Starts and ends the XML parser (called by the library's start and end).
int PackageLibraryInit();
void* PackageLibraryCleanup();
// Frees the XML readers kept between parts; called before the parser is
// cleaned up, when no part is being read.
void PackageDropKeptReaders();

// Opens the package at path: mode 0 for reading, 1 to create it (an
// existing file is emptied), any other mode to read and write it (created
// when missing). Null when the file cannot be opened or the archive scan
// fails. A file that is not a ZIP archive opens as a package without parts.
OpcPackage* PackageOpen(const char16_t* path, int mode, void* user);
// Frees the package; returns its I/O error state (always 0 for a package
// opened for reading). A package opened for writing first writes its content
// types and relationships into their entries and commits the archive; the
// trim flag closes every gap between the entries.
int PackageClose(OpcPackage* package, int trim);

// Name of the first part (null when none), and of the next part after name
// that has data (null at the end or when name is not a part).
const char* PackageFirstPart(OpcPackage* package);
const char* PackageNextPart(OpcPackage* package, const char* name);
// The part's Override type, else the Default of its extension (exact case),
// else null; null for a name that is not a part.
const char* PackageGetPartType(OpcPackage* package, const char* name);
// Relationships of a part ("" for the package's own), or null.
const std::vector<OpcRelationship>* PackageGetRelationships(OpcPackage* package, const char* name);

// Opens the part's XML into state. 0 when opened; 1 for an unknown part, a
// part without data, an interleaved part, data that cannot be opened or a
// reader that cannot be created.
int PackageOpenPart(OpcPackage* package, McReaderState* state, const char* name, const char* baseUrl,
                    const char* encoding, int options);

// The XML of a relationships part as written back, and the target text of
// an internal relationship: "customXml/item1.xml" from "word/document.xml"
// is "../customXml/item1.xml".
std::string PackageRelationshipsXml(const std::string& sourcePart, const std::vector<OpcRelationship>& relationships);
std::string PackageRelativeTarget(const std::string& sourcePart, const std::string& target);

// Resolves a relationship target against its source part (for tests and the
// reader): "../media/a.png" from "word/document.xml" is "media/a.png".
std::string PackageResolveTarget(const std::string& sourcePart, const std::string& target);
