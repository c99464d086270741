#include "nsf/catalogue/images.h"

#include <string.h>

#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include "nsf/items/itemdata.h"
#include "nsf/items/note.h"
#include <notes/notes.h>
#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"
#include "nsf/base/text.h"

namespace {

// Slots added to a full picture array, and the first size of an array made when the picture
// search found nothing (template pictures still need room then).
const uint32_t ucImagesStep = 10;

const char *nsfImageTypeName(WORD wImageType)
{
    switch (wImageType) {
    case CDIMAGETYPE_GIF:
        return "GIF";
    case CDIMAGETYPE_JPEG:
        return "JPEG";
    case CDIMAGETYPE_BMP:
        return "BMP";
    default:
        return "UNKNOWN";
    }
}

// Copies at most cchMax bytes of the text and terminates the copy.
void nsfCopyCut(char *pszTo, const char *pszFrom, size_t cchMax)
{
    size_t cch = strnlen(pszFrom, cchMax);
    memcpy(pszTo, pszFrom, cch);
    pszTo[cch] = '\0';
}

} // namespace

int nsfNewImage(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfNewImage()";
    if (pContext->images == NULL) {
        pContext->numImages = 0;
        pContext->maxImages = 0;
        uint32_t ucMax = pContext->dwIDEntries != 0 ? pContext->dwIDEntries : ucImagesStep;
        NSFIMAGE **rgNew = (NSFIMAGE **)nsfAllocZero(pContext, nsfSatMul(ucMax, sizeof(NSFIMAGE *)));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating image array (max # images %d)",
                    (int)ucMax);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        pContext->images = rgNew;
        pContext->maxImages = (int32_t)ucMax;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "cImagesMax %d", pContext->maxImages);
    } else if (pContext->maxImages <= pContext->numImages) {
        uint32_t ucMax = nsfSatAdd((uint32_t)pContext->maxImages, ucImagesStep);
        NSFIMAGE **rgNew =
            (NSFIMAGE **)nsfRealloc(pContext, pContext->images, nsfSatMul(ucMax, sizeof(NSFIMAGE *)));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error re-allocating image array (max # images %d)",
                    (int)ucMax);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        memset(rgNew + pContext->maxImages, 0, (ucMax - (uint32_t)pContext->maxImages) * sizeof(NSFIMAGE *));
        pContext->images = rgNew;
        pContext->maxImages = (int32_t)ucMax;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "cImagesMax %d", pContext->maxImages);
    }

    NSFIMAGE *pImage = (NSFIMAGE *)nsfAllocZero(pContext, sizeof(NSFIMAGE));
    if (pImage == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating image # %d", pContext->numImages + 1);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    pContext->images[pContext->numImages++] = pImage;
    pImage->nImage = pContext->numImages;

    int nStatus = nsfAddBuffer(pContext, 0, &pImage->pBuffer);
    if (nStatus != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfAddBuffer() failed");
    return nStatus;
}

NSFIMAGE *nsfFindImage(NSFCONTEXT *pContext, const char *pszLinkName, const char *pszTitle)
{
    static const char szFunc[] = "nsfFindImage()";
    if (pContext->images == NULL) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "No images");
        return NULL;
    }
    if (pszLinkName != NULL) {
        for (int32_t i = 0; i < pContext->numImages; i++) {
            NSFIMAGE *pImage = pContext->images[i];
            if (pImage != NULL && nsfEqualNoCase(pImage->szLinkName, pszLinkName))
                return pImage;
        }
    }
    if (pszTitle != NULL) {
        for (int32_t i = 0; i < pContext->numImages; i++) {
            NSFIMAGE *pImage = pContext->images[i];
            if (pImage != NULL && nsfEqualNoCase(pImage->szTitle, pszTitle))
                return pImage;
        }
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Image not found, pszLinkName %s, pszTitle %s",
            pszLinkName != NULL ? pszLinkName : "NULL", pszTitle != NULL ? pszTitle : "NULL");
    return NULL;
}

namespace {

// The part of nsfGetNoteImage that runs while the note is open.
int nsfReadNoteImage(NSFCONTEXT *pContext, NOTEHANDLE hNote, DWORD dwNoteID, const char *pszFunc)
{
    if (!nsfItemIsPresent(pContext, hNote, "$ImageData", pszFunc))
        return NSF_STATUS_OK;

    int nStatus = nsfGetItemData(pContext, hNote, "$TITLE", NSF_DATA_TEXT, NULL);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_DIAG, pszFunc, "nsfGetItemData() failed");
        return nStatus;
    }
    NSFBUFFER *pMain = pContext->BufferMain;
    if (pMain->ucbData == 0 || pMain->rgbData[0] == '\0') {
        nsfLog(pContext, NSF_LOG_DIAG, pszFunc, "No title");
        return NSF_STATUS_OK;
    }
    char *pszTitle = (char *)pMain->rgbData;
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Image title, pszTitle %s", pszTitle);
    const char *pszLinkName = "";
    char *pszSemicolon = strchr(pszTitle, ';');
    if (pszSemicolon != NULL) {
        *pszSemicolon = '\0';
        pszLinkName = pszSemicolon + 1;
        nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Image link, pszLinkName %s", pszLinkName);
    }

    // The title lives in BufferMain, which the next item read reuses: take it first.
    char szTitle[128];
    char szLinkName[32];
    nsfCopyCut(szTitle, pszTitle, sizeof(szTitle) - 1);
    nsfCopyCut(szLinkName, pszLinkName, sizeof(szLinkName) - 1);

    nStatus = nsfNewImage(pContext);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfNewImage() failed");
        return nStatus;
    }
    NSFIMAGE *pImage = pContext->numImages > 0 ? pContext->images[pContext->numImages - 1] : NULL;
    if (pImage == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, pszFunc, "No image found");
        return NSF_STATUS_INTERNAL;
    }
    pImage->dwNoteID = dwNoteID;
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Added note as image, dwNoteID %d, cImages %d", (int)dwNoteID,
            pContext->numImages);
    memcpy(pImage->szTitle, szTitle, sizeof(szTitle));
    memcpy(pImage->szLinkName, szLinkName, sizeof(szLinkName));

    NSFIMAGEDATA target = {pImage->wImageType, pImage->pBuffer};
    nStatus = nsfGetItemData(pContext, hNote, "$ImageData", NSF_DATA_IMAGE, &target);
    pImage->wImageType = target.wImageType;
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_DIAG, pszFunc, "nsfGetItemData() failed");
        return nStatus;
    }
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Image.wImageType %d (CDIMAGETYPE_%s)", pImage->wImageType,
            nsfImageTypeName(pImage->wImageType));
    return NSF_STATUS_OK;
}

} // namespace

int nsfGetNoteImage(NSFCONTEXT *pContext, DWORD dwNoteID)
{
    static const char szFunc[] = "nsfGetNoteImage()";
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Getting note image, dwNoteID %d", (int)dwNoteID);
    NOTEHANDLE hNote = NULLHANDLE;
    int nStatus = nsfOpenNote(pContext, szFunc, dwNoteID, &hNote);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    nStatus = nsfReadNoteImage(pContext, hNote, dwNoteID, szFunc);
    int nCloseStatus = nsfCloseNote(pContext, szFunc, hNote);
    return nStatus != NSF_STATUS_OK ? nStatus : nCloseStatus;
}

int nsfInitImages(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfInitImages()";
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Searching for notes (for images)...");
    // Every form-class note goes into the table; which of them hold a picture is seen later.
    if (nsfSearchNoteIDs(pContext, szFunc, NOTE_CLASS_FORM, false, pContext->hIDTable) == NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Search for notes (for images) done");
        nsfCallAPI(pContext, szFunc, "IDEntries()");
        pContext->dwIDEntries = IDEntries(pContext->hIDTable);
        nsfRetAPI(pContext, szFunc, NOERROR);
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "dwIDEntries %d", (int)pContext->dwIDEntries);
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Getting images from notes...");

        DWORD dwNoteID = 0;
        bool bFirst = true;
        while (nsfNextNoteID(pContext, szFunc, pContext->hIDTable, &bFirst, &dwNoteID)) {
            if (nsfGetNoteImage(pContext, dwNoteID) != NSF_STATUS_OK)
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetNoteImage() failed");
        }

        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Final cImages %d, rgpImages...", pContext->numImages);
        for (int32_t i = 0; i < pContext->numImages; i++) {
            if (pContext->images[i] != NULL)
                nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "rgpImages[%d].szLinkName %s", i,
                        pContext->images[i]->szLinkName);
        }
    }

    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Deleting ID table...");
    nsfCallAPI(pContext, szFunc, "IDDeleteAll()");
    STATUS status = IDDeleteAll(pContext->hIDTable);
    return nsfRetAPI(pContext, szFunc, status);
}
