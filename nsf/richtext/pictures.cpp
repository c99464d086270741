// Pictures of the converter: the picture store, image tags, inline images, Notes bitmaps (turned
// into BMP by the image library), shared pictures, the document-link picture and the base64 parts.
#include <stdio.h>
#include <string.h>

#include "nsf/base/context.h"
#include "nsf/base/status.h"
#include "nsf/diag/log.h"
#include "nsf/os/qlsys.h"
#include "nsf/richtext/base64.h"
#include "nsf/richtext/converter.h"

namespace {

const char *nsfPictureExtension(int32_t nType)
{
    switch (nType) {
    case LOTUS_PICTURE_GIF:
        return ".gif";
    case LOTUS_PICTURE_JPEG:
        return ".jpg";
    case LOTUS_PICTURE_BMP:
    case LOTUS_PICTURE_OTHER_BMP:
    case LOTUS_PICTURE_NOTES_BITMAP:
        return ".bmp";
    case LOTUS_PICTURE_JFIF:
        return ".jfif";
    case LOTUS_PICTURE_PNG:
        return ".png";
    default:
        return "";
    }
}

const char *nsfPictureContentType(int32_t nType)
{
    switch (nType) {
    case LOTUS_PICTURE_GIF:
        return "Content-Type: image/gif\r\n";
    case LOTUS_PICTURE_JPEG:
        return "Content-Type: image/jpeg\r\n";
    case LOTUS_PICTURE_BMP:
        return "Content-Type: image/bmp\r\n";
    case LOTUS_PICTURE_JFIF:
        return "Content-Type: image/jfif\r\n";
    case LOTUS_PICTURE_PNG:
        return "Content-Type: image/png\r\n";
    default:
        return "";
    }
}

// Reads a whole file through the host's stream entry into a block from the host allocator.
bool nsfReadHostFile(QLHAPI *pHAPI, const char *pszPath, uint8_t **ppb, uint32_t *pcb)
{
    *ppb = NULL;
    *pcb = 0;
    QLStream *pStream = pHAPI->fpOpenStream(pHAPI, pszPath, "rb");
    if (pStream == NULL)
        return false;
    bool bRead = false;
    int64_t llSize = -1;
    if (pStream->fpSeek(pStream, 0, 2) != 0)
        llSize = pStream->fpTell(pStream);
    if (llSize > 0 && llSize < 0x7FFFFFFF && pStream->fpSeek(pStream, 0, 0) != 0) {
        uint8_t *pb = (uint8_t *)pHAPI->allocator.fpAlloc(&pHAPI->allocator, (uint32_t)llSize);
        if (pb != NULL) {
            if (pStream->fpRead(pStream, pb, (uint32_t)llSize) == (uint32_t)llSize) {
                *ppb = pb;
                *pcb = (uint32_t)llSize;
                bRead = true;
            } else {
                pHAPI->allocator.fpFree(&pHAPI->allocator, pb);
            }
        }
    }
    pStream->fpClose(pStream);
    return bRead;
}

} // namespace

CLotusBinaryStream *CLotusRTConverter::NewPicture(int32_t nType)
{
    char szName[64];
    snprintf(szName, sizeof(szName), "_image%d%s", (int)m_rgPictures.size(), nsfPictureExtension(nType));
    CLotusBinaryStream *pPicture = new CLotusBinaryStream(services, nType, "ql_" + m_szNoteID + szName);
    m_rgPictures.push_back(pPicture);
    return pPicture;
}

void CLotusRTConverter::ImageTag(const CLotusBinaryStream *pPicture, uint32_t dwWidth, uint32_t dwHeight,
                                 std::string &out)
{
    if (pPicture == NULL)
        return;
    char sz[32];
    out += "<IMG src=3D\"file:///";
    out += pPicture->m_szName;
    out += '"';
    if (dwWidth != 0) {
        snprintf(sz, sizeof(sz), " width=%s%u", m_pszEq, (unsigned)dwWidth);
        out += sz;
    }
    if (dwHeight != 0) {
        snprintf(sz, sizeof(sz), " height=%s%u", m_pszEq, (unsigned)dwHeight);
        out += sz;
    }
    out += '>';
    out += m_pszNL;
}

bool CLotusRTConverter::ImageHeader(CLotusRecordCursor &record, std::string &out)
{
    uint8_t bImageType;
    uint16_t wWidth, wHeight;
    uint32_t dwSegments;
    if (!record.ByteAt(6, &bImageType) || !record.WordAt(8, &wWidth) || !record.WordAt(10, &wHeight) ||
        !record.DWordAt(16, &dwSegments))
        return false;
    if ((int32_t)dwSegments <= 0)
        return true;
    int32_t nType = bImageType >= 1 && bImageType <= 3 ? (int32_t)bImageType : (int32_t)LOTUS_PICTURE_NONE;
    ImageTag(NewPicture(nType), wWidth, wHeight, out);
    return true;
}

bool CLotusRTConverter::ImageSegment(CLotusRecordCursor &record)
{
    // The segment's data length comes from the record and must stay inside it.
    uint16_t cbData;
    const uint8_t *pbData;
    if (!record.WordAt(6, &cbData) || !record.Seek(10) || !record.ReadBytes(cbData, &pbData))
        return false;
    if (!m_rgPictures.empty())
        m_rgPictures.back()->Append(pbData, cbData);
    return true;
}

bool CLotusRTConverter::BitmapHeader(CLotusRecordCursor &record, std::string &out)
{
    uint16_t wWidth, wHeight;
    if (!record.WordAt(22, &wWidth) || !record.WordAt(24, &wHeight))
        return false;
    CLotusBinaryStream *pPicture = NewPicture(LOTUS_PICTURE_NOTES_BITMAP);
    pPicture->Append(record.Data(), record.Size());
    ImageTag(pPicture, wWidth, wHeight, out);
    return true;
}

bool CLotusRTConverter::Resource(CLotusRecordCursor &record, std::string &out)
{
    static const char szFunc[] = "CLotusRTConverter::Resource()";
    uint16_t wType, cbName, cbServerHint, cbFileHint;
    if (!record.WordAt(8, &wType) || !record.WordAt(12, &cbName) || !record.WordAt(14, &cbServerHint) ||
        !record.WordAt(16, &cbFileHint))
        return false;
    if (m_pfnImageCB == NULL || wType != 3 || cbName == 0)
        return true;
    // The element name follows the fixed part (26 bytes), the server and file hints and the
    // replica ID (8 bytes): at offset 34 when both hints are empty, as they are for a picture of
    // the same database. Hints are skipped by their lengths rather than read as the name.
    const uint8_t *pbName;
    if (!record.Seek(26) || !record.Skip(cbServerHint) || !record.Skip(cbFileHint) || !record.Skip(8) ||
        !record.ReadBytes(cbName, &pbName))
        return false;
    std::string szName((const char *)pbName, cbName);
    szName.resize(strlen(szName.c_str())); // a name ends at its first NUL

    // A picture named again (or met again in the second walk of a block) is not fetched and
    // stored once more: its tag names the picture already stored.
    for (CLotusBinaryStream *pPicture : m_rgPictures) {
        if (pPicture->m_szSource == szName && !szName.empty()) {
            ImageTag(pPicture, 0, 0, out);
            return true;
        }
    }
    QLAllocator *pAllocator = &services->allocator;
    char *pszName = (char *)pAllocator->fpAlloc(pAllocator, (uint32_t)cbName + 1);
    if (pszName == NULL) {
        if (m_pContext != NULL)
            nsfLogf(m_pContext, NSF_LOG_ERROR, szFunc, "Error allocating name buffer (size %u)", cbName + 1u);
        return true;
    }
    memcpy(pszName, szName.c_str(), szName.size() + 1);
    uint8_t *pbData = NULL;
    int32_t nSize = 0, nType = 0;
    int nStatus = m_pfnImageCB(m_pContext, pszName, &pbData, &nSize, &nType);
    if (nStatus == NSF_STATUS_OK && pbData != NULL && nSize > 0) {
        CLotusBinaryStream *pPicture = NewPicture(nType);
        pPicture->m_szSource = szName;
        ImageTag(pPicture, 0, 0, out);
        pPicture->Append(pbData, (uint32_t)nSize);
    } else if (m_pContext != NULL) {
        nsfLogf(m_pContext, NSF_LOG_WARNING, szFunc, "No shared picture \"%s\" (status %d)", pszName, nStatus);
    }
    if (pbData != NULL)
        pAllocator->fpFree(pAllocator, pbData);
    pAllocator->fpFree(pAllocator, pszName);
    return true;
}

void CLotusRTConverter::DocLink(std::string &out)
{
    static const char szFunc[] = "CLotusRTConverter::DocLink()";
    // The picture file is read once per conversion and every link's tag names that one picture.
    // When it cannot be read no tag is written: a tag would otherwise name whatever picture came
    // before the link.
    if (m_pDocLink == NULL && !m_bDocLinkTried) {
        m_bDocLinkTried = true;
        char szPath[260];
        const char *pszHostDir = services->pszHostDir != NULL ? services->pszHostDir : "";
        int n = snprintf(szPath, sizeof(szPath), "%s%s%c%s%c%s", pszHostDir, "NSFtemplates", QLSYS_PATH_SEPARATOR,
                         "images", QLSYS_PATH_SEPARATOR, "doclink.jpg");
        uint8_t *pb = NULL;
        uint32_t cb = 0;
        if (n > 0 && n < (int)sizeof(szPath) && nsfReadHostFile(services, szPath, &pb, &cb)) {
            m_pDocLink = NewPicture(LOTUS_PICTURE_JPEG);
            m_pDocLink->Append(pb, cb);
            services->allocator.fpFree(&services->allocator, pb);
        } else if (m_pContext != NULL) {
            nsfLogf(m_pContext, NSF_LOG_WARNING, szFunc, "Cannot read the document link picture %s", szPath);
        }
    }
    ImageTag(m_pDocLink, 17, 18, out);
}

void CLotusRTConverter::ConvertBitmaps()
{
    static const char szFunc[] = "CLotusRTConverter::ConvertBitmaps()";
    void *hLibrary = NULL;
    QLImageConvertFn pfnConvert = NULL;
    bool bLoadTried = false;
    for (CLotusBinaryStream *pPicture : m_rgPictures) {
        if (pPicture->m_nType != LOTUS_PICTURE_NOTES_BITMAP || pPicture->m_pbData == NULL || pPicture->m_nSize <= 0)
            continue;
        // The library is loaded once for all the bitmaps of the document, and only when there is one.
        if (!bLoadTried) {
            bLoadTried = true;
            if (services->fpLoadLibrary == NULL || !services->fpLoadLibrary(services, QL_IMAGE_CONVERTER_LIBRARY, &hLibrary) ||
                hLibrary == NULL) {
                hLibrary = NULL;
                if (m_pContext != NULL)
                    nsfLog(m_pContext, NSF_LOG_WARNING, szFunc,
                           "Cannot load bmpcv.dll: Notes bitmaps are left unconverted");
            } else {
                pfnConvert = (QLImageConvertFn)services->fpGetProcAddress(services, hLibrary, QL_IMAGE_CONVERT_ENTRY_NAME);
                if (pfnConvert == NULL && m_pContext != NULL)
                    nsfLog(m_pContext, NSF_LOG_WARNING, szFunc,
                           "No IMGXconvert in bmpcv.dll: Notes bitmaps are left unconverted");
            }
        }
        if (pfnConvert == NULL)
            break;
        QLStream *pStream = services->fpOpenStream(services, NULL, "a+b");
        if (pStream == NULL) {
            if (m_pContext != NULL)
                nsfLog(m_pContext, NSF_LOG_WARNING, szFunc, "Cannot create a memory stream");
            continue;
        }
        int nResult = -1;
        if (pStream->fpOpen(pStream) &&
            pStream->fpWrite(pStream, pPicture->m_pbData, (uint32_t)pPicture->m_nSize) == (uint32_t)pPicture->m_nSize)
            nResult = pfnConvert(services, "NBMP", "BMP", pStream, pStream, 0, 0);
        if (nResult == 0) {
            int64_t llSize = -1;
            if (pStream->fpSeek(pStream, 0, 2) != 0)
                llSize = pStream->fpTell(pStream);
            uint8_t *pbNew = NULL;
            if (llSize > 0 && llSize < 0x7FFFFFFF && pStream->fpSeek(pStream, 0, 0) != 0)
                pbNew = (uint8_t *)services->allocator.fpAlloc(&services->allocator, (uint32_t)llSize + 1);
            if (pbNew != NULL && pStream->fpRead(pStream, pbNew, (uint32_t)llSize) == (uint32_t)llSize) {
                pbNew[llSize] = 0;
                services->allocator.fpFree(&services->allocator, pPicture->m_pbData);
                pPicture->m_pbData = pbNew;
                pPicture->m_nSize = (int32_t)llSize;
                pPicture->m_nType = LOTUS_PICTURE_BMP;
            } else {
                if (pbNew != NULL)
                    services->allocator.fpFree(&services->allocator, pbNew);
                if (m_pContext != NULL)
                    nsfLogf(m_pContext, NSF_LOG_WARNING, szFunc, "Cannot read the converted picture %s",
                            pPicture->m_szName.c_str());
            }
        } else if (m_pContext != NULL) {
            nsfLogf(m_pContext, NSF_LOG_WARNING, szFunc, "IMGXconvert() failed (%d) for %s: left unconverted",
                    nResult, pPicture->m_szName.c_str());
        }
        pStream->fpClose(pStream);
    }
    if (hLibrary != NULL)
        services->fpFreeLibrary(services, hLibrary);
}

void CLotusRTConverter::AppendPictureParts(std::string &out)
{
    static const char szFunc[] = "CLotusRTConverter::ConvertToMHT()";
    QLAllocator *pAllocator = &services->allocator;
    for (CLotusBinaryStream *pPicture : m_rgPictures) {
        if (pPicture->m_pbData == NULL || pPicture->m_nSize <= 0)
            continue;
        uint32_t cbBase64 = nsfBase64Size((uint32_t)pPicture->m_nSize);
        char *pszBase64 = (char *)pAllocator->fpAlloc(pAllocator, cbBase64);
        if (pszBase64 == NULL) {
            if (m_pContext != NULL)
                nsfLogf(m_pContext, NSF_LOG_ERROR, szFunc, "Error allocating base64 buffer (size %u) for %s", cbBase64,
                        pPicture->m_szName.c_str());
            continue;
        }
        int32_t nLineLen = 0;
        uint32_t cchBase64 = encode_base64(pPicture->m_pbData, (uint32_t)pPicture->m_nSize, pszBase64, &nLineLen);
        out += "\r\n" LOTUS_MHT_DELIMITER "\r\n";
        out += nsfPictureContentType(pPicture->m_nType);
        out += "Content-Transfer-Encoding: base64\r\nContent-Location: file:///";
        out += pPicture->m_szName;
        out += "\r\n\r\n";
        out.append(pszBase64, cchBase64);
        out += "\r\n\r\n";
        pAllocator->fpFree(pAllocator, pszBase64);
    }
}
