/* DXL export. */
#ifndef NOTES_XML_H
#define NOTES_XML_H

#include "global.h"

typedef MEMHANDLE DXLEXPORTHANDLE;
typedef MEMHANDLE DXLIMPORTHANDLE;
typedef MEMHANDLE XSLTRANSFORMHANDLE;

/* Property values are passed by address: BOOL and enum properties as a pointer to a 4-byte
   value, string properties on Set as the char pointer itself. String properties read back
   come as a MEMHANDLE that the caller locks with OSMemoryLock and frees with OSMemoryFree. */
typedef enum {
    eDxlExportResultLog = 1,
    eDefaultDoctypeSYSTEM = 2,
    eDoctypeSYSTEM = 3,
    eDXLBannerComments = 4,
    eDxlExportCharset = 5,
    eDxlRichtextOption = 6,
    eDxlExportResultLogComment = 7,
    eDxlValidationStyle = 8,
    eDxlDefaultSchemaLocation = 9,
    eDxlSchemaLocation = 10,
    eDxlMimeOption = 11,
    eAttachmentOmittedText = 12,
    eOLEObjectOmittedText = 13,
    ePictureOmittedText = 14,
    eOmitItemNames = 15,
    eRestrictToItemNames = 16,
    eForceNoteFormat = 30,
    eExitOnFirstFatalError = 31,
    eOutputRootAttrs = 32,
    eOutputXmlDecl = 33,
    eOutputDOCTYPE = 34,
    eConvertNotesbitmapsToGIF = 35,
    eOmitRichtextAttachments = 36,
    eOmitOLEObjects = 37,
    eOmitMiscFileObjects = 38,
    eOmitPictures = 39,
    eUncompressAttachments = 40
} DXL_EXPORT_PROPERTY;

typedef enum { eDxlExportUtf8 = 0, eDxlExportUtf16 = 1 } DXL_EXPORT_CHARSET;
typedef enum { eRichtextAsDxl = 0, eRichtextAsItemdata = 1 } DXL_RICHTEXT_OPTION;
typedef enum { eMimeAsDxl = 0, eMimeAsItemdata = 1 } DXL_MIME_OPTION;
typedef enum {
    eDxlExportValidationStyle_None = 0,
    eDxlExportValidationStyle_DTD = 1,
    eDxlExportValidationStyle_XMLSchema = 2
} DXL_EXPORT_VALIDATION_STYLE;
typedef enum { Xml_Validate_Never = 0, Xml_Validate_Always = 1, Xml_Validate_Auto = 2 } Xml_Validation_Option;

typedef enum {
    iACLImportOption = 1,
    iDesignImportOption = 2,
    iDocumentsImportOption = 3,
    iCreateFullTextIndex = 4,
    iReplaceDbProperties = 5,
    iInputValidationOption = 6,
    iReplicaRequiredForReplaceOrUpdate = 7,
    iExitOnFirstFatalError = 8,
    iUnknownTokenLogOption = 9,
    iResultLogComment = 10,
    iResultLog = 11,
    iImportedNoteList = 12,
    iCompileLotusScript = 13
} DXL_IMPORT_PROPERTY;

typedef enum {
    DXLIMPORTOPTION_IGNORE = 1,
    DXLIMPORTOPTION_CREATE = 2,
    DXLIMPORTOPTION_IGNORE_ELSE_CREATE = 3,
    DXLIMPORTOPTION_REPLACE_ELSE_IGNORE = 5,
    DXLIMPORTOPTION_REPLACE_ELSE_CREATE = 6,
    DXLIMPORTOPTION_UPDATE_ELSE_IGNORE = 9,
    DXLIMPORTOPTION_UPDATE_ELSE_CREATE = 10
} DXLIMPORTOPTION;

typedef enum {
    DXLLOGOPTION_IGNORE = 1,
    DXLLOGOPTION_WARNING = 2,
    DXLLOGOPTION_ERROR = 3,
    DXLLOGOPTION_FATALERROR = 4
} DXLLOGOPTION;

/* Output chunk of the exporter (UTF-8 unless eDxlExportCharset says otherwise). */
typedef LNCALLBACKPTR(void, XML_WRITE_FUNCTION)(const BYTE *pBuffer, DWORD length, void *pAction);
/* Importer input; returns the number of bytes supplied. */
typedef LNCALLBACKPTR(DWORD, XML_READ_FUNCTION)(BYTE *pBuffer, DWORD length, void *pAction);

NOTESAPI_BEGIN_DECLS

NOTESAPI STATUS LNPUBLIC DXLCreateExporter(DXLEXPORTHANDLE *prethDXLExport);
NOTESAPI void LNPUBLIC DXLDeleteExporter(DXLEXPORTHANDLE hDXLExport);
NOTESAPI STATUS LNPUBLIC DXLSetExporterProperty(DXLEXPORTHANDLE hDXLExport, DXL_EXPORT_PROPERTY prop,
                                                void *propValue);
NOTESAPI STATUS LNPUBLIC DXLGetExporterProperty(DXLEXPORTHANDLE hDXLExport, DXL_EXPORT_PROPERTY prop,
                                                void *retPropValue);
/* Calls pDXLWriteFunc as often as there is output, passing pExAction through. */
NOTESAPI STATUS LNPUBLIC DXLExportNote(DXLEXPORTHANDLE hDXLExport, XML_WRITE_FUNCTION pDXLWriteFunc,
                                       NOTEHANDLE hNote, void *pExAction);
NOTESAPI BOOL LNPUBLIC DXLExportWasErrorLogged(DXLEXPORTHANDLE hDXLExport);

NOTESAPI_END_DECLS

#endif
