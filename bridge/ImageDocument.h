// What the image hand-off needs of the document side: a new document for each
// image, its image, and a way to tell its views. The desktop shell implements it
// over its document template; tests implement it with plain objects.
#pragma once

class CDIB;

namespace velomark {

class ImageDocument {
public:
    virtual ~ImageDocument() = default;
    // The document's own image, filled by the hand-off.
    virtual CDIB& Image() = 0;
    // The image is in place: the views take its size and repaint.
    virtual void UpdateAllViews() = 0;
    // The image could not be loaded: the document and its window go away.
    virtual void Discard() = 0;
    // The resolution the source reported for the image, in dots per inch (0: unknown).
    virtual void SetResolution(double xDpi, double yDpi) {
        static_cast<void>(xDpi);
        static_cast<void>(yDpi);
    }
};

class ImageDocumentFactory {
public:
    virtual ~ImageDocumentFactory() = default;
    // A new document for one image (the desktop program makes its window once the
    // batch's transfer is over), or null when none could be made. The document stays
    // owned by the factory's side.
    virtual ImageDocument* OpenNewDocument() = 0;
};

}  // namespace velomark
