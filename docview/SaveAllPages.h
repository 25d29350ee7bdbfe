// File > Save All Pages: every open page, in window order, into one PDF document or
// one multi-page TIFF image, written aside and renamed over its name.
#pragma once

#include <string>
#include <vector>

#include "docview/PageSetWriter.h"

class wxDocManager;
class wxString;
class wxWindow;

namespace velomark {

enum class PageSetFormat { Pdf, Tiff };

// The pages of the open documents that hold an image, in the order of their tabs.
std::vector<PageToWrite> OpenPages(wxDocManager& manager);
// Whether any open document holds an image (the command's update rule: no sorting).
bool HasOpenPages(wxDocManager& manager);

// Writes the open pages into `path`: its extension (.pdf, .tif, .tiff) chooses the
// format, else `typeChosen`. False, with a message logged, when nothing was saved.
bool SavePagesAs(wxDocManager& manager, const wxString& path, PageSetFormat typeChosen);

// The command: asks for a name and a file type, then SavePagesAs.
void SaveAllPagesCommand(wxDocManager& manager, wxWindow* parent);

}  // namespace velomark
