// How the Data Source Manager and a data source library (*.ds) talk.
//
// A source library exports, with C linkage:
//   TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT,
//                      TW_UINT16 MSG, TW_MEMREF pData);
//
// Identities. Before any session the DSM asks the library which sources it
// offers, with a null origin:
//   DG_CONTROL / DAT_IDENTITY / MSG_GETFIRST, then MSG_GETNEXT until
//   TWRC_ENDOFLIST: one TW_IDENTITY per source (a library may offer several,
//   one per device). A library that answers MSG_GETFIRST with TWRC_FAILURE
//   is asked DG_CONTROL / DAT_IDENTITY / MSG_GET once instead: one source.
// The source fills everything but Id; the DSM assigns Id when it opens it.
//
// Sessions. The DSM opens a source with DG_CONTROL / DAT_IDENTITY / MSG_OPENDS,
// origin the application's identity and data the source's identity as the
// DSM listed it (Id assigned), so a library with several identities knows
// which one is meant; MSG_CLOSEDS closes it. Every other triplet that the
// application addresses to the open source reaches DS_Entry unchanged.
//
// Notifications. A source posts kSourceNotifyMessage to the window it was
// given at MSG_ENABLEDS (TW_USERINTERFACE.hParent) with wParam MSG_XFERREADY or
// MSG_CLOSEDSREQ and lParam the source's Id. Asked with MSG_PROCESSEVENT about
// such a message of its own it answers TWRC_DSEVENT with that TWAIN message;
// every other message gets TWRC_NOTDSEVENT.
//
// Velomark's own listing triplets, both optional: the DSM asks them with a null
// origin after MSG_GETFIRST/MSG_GETNEXT, and a library that does not know them
// answers TWRC_FAILURE (or anything but TWRC_SUCCESS), which changes nothing.
//   DG_CONTROL / DAT_VELOMARK_NOTE / MSG_GET, data TW_VELOMARK_NOTE: one line the
//   selection dialog shows under the list, e.g. why a library offers no device. It
//   is asked even of a library that listed no identity.
//   DG_CONTROL / DAT_VELOMARK_LONGNAME / MSG_GET, data TW_VELOMARK_LONGNAME with
//   Identity as listed: LongName is another name that names this source in
//   VELOMARK_DEFAULT_SOURCE, e.g. a scanner's device name too long for ProductName.
// And one question for an open source, asked by the application as it closes an
// enabled one: DG_CONTROL / DAT_VELOMARK_NOTE / MSG_GET with the application as
// origin: the sentence on which the source's last batch failed ("the scanner driver
// stopped: signal 11 (Segmentation fault)"); anything but TWRC_SUCCESS when it did
// not fail or the source does not know the question.
// Strings are NUL-terminated within their field.
#pragma once

#include "platform/Window.h"
#include "twain/TwainTypes.h"

constexpr UINT kSourceNotifyMessage = WM_APP + 0x0701;

// Custom data argument types start at 0x8000 (DAT_CUSTOMBASE).
constexpr TW_UINT16 DAT_VELOMARK_NOTE = 0x8000 + 0x0701;
constexpr TW_UINT16 DAT_VELOMARK_LONGNAME = 0x8000 + 0x0702;

struct TW_VELOMARK_NOTE {
    char Text[256];
};

struct TW_VELOMARK_LONGNAME {
    TW_IDENTITY Identity;
    char LongName[256];
};

extern "C" {
TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                   TW_MEMREF pData);
}
