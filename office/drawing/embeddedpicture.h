// Embedded pictures of a Word document's "Data" stream: the picture header
// block (total length, header length, metafile size) is followed by the
// picture's drawing records, its blip store entry and the blip itself. The
// processing recognises pictures that only name a file, saves an embedded
// JPEG, PNG or bitmap to a file of the process's private temporary folder,
// reads it back and removes it, and probes the embedded object's storage in
// "ObjectPool". Nothing of a picture reaches the extracted text; the counters
// record what was met.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/cfb.h"

struct PictureCounters {
    int pictures = 0;  // one per blip written or attempted
    int objects = 0;   // one per embedded object read back
};

struct PictureResult {
    bool linked = false;        // the picture names a file; linkName holds it
    std::u16string linkName;
    bool saved = false;         // a picture file was written (and removed again)
    std::string savedExtension; // "jpg", "png" or "bmp"
    bool object = false;        // an embedded object storage was found
};

// The process's private temporary folder for picture files (created on first
// use with mode 0700); empty when it cannot be made. The folder and whatever
// is left in it are removed when the process exits; a child made by fork()
// gets a folder of its own and leaves its parent's alone.
std::string PictureTempFolder();
// Removes the folder and its files now (also done at exit); the next
// PictureTempFolder() makes a new one.
void RemovePictureTempFolder();

// Writes the picture of the blip record at blip (avail bytes present) to a
// new file "$EM%04d.<ext>" of the private folder, numbered by and advancing
// the picture counter; true with path and extension set when it was written.
bool WriteBlipFile(const unsigned char* blip, size_t avail, PictureCounters& counters, std::string& path,
                   std::string& extension);
// Whether the storage "ObjectPool/_<objectNumber>" exists and stands for
// the picture (it has no summary stream, or no picture file was written).
bool CheckEmbeddedObject(plat::CfbStorage* root, std::uint32_t objectNumber, bool havePicture);
// Reads the file to its end (no link followed) and removes it; false when it
// could not be opened.
bool ReadBackFile(const std::string& path);

// Processes one picture block of blockSize bytes. root may be null (no
// embedded objects then).
PictureResult ProcessPicture(const unsigned char* block, size_t blockSize, std::uint32_t objectNumber,
                             plat::CfbStorage* root, PictureCounters& counters);
