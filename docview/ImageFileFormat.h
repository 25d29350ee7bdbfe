// The file formats a page can be kept in, and how a file's name or its first bytes
// say which one it is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace velomark {

// In the order of the Save As dialog's file types.
enum class ImageFileFormat { Bmp, Png, Tiff, Jpeg };

// The extension of a name's last part, in lower case; empty when it has none.
std::string LowerExtension(const std::string& path);
// The format a name's extension names (case ignored); none for no or another extension.
std::optional<ImageFileFormat> FormatOfExtension(const std::string& path);
// The format whose signature starts `bytes`; none when no known one does.
std::optional<ImageFileFormat> FormatOfSignature(const unsigned char* bytes, size_t count);
// "BMP", "PNG", "TIFF", "JPEG".
const char* FormatName(ImageFileFormat format);
// The Save As dialog's file types, one per format in enum order.
const char* SaveAsWildcard();
// The format of file type `index` of that dialog (BMP for an index out of range).
ImageFileFormat FormatOfFilterIndex(int index);

}  // namespace velomark
