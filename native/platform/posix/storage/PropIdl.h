// Property sets on Linux: the propidl.h / oleauto.h subset the library calls,
// with the Windows names, values and ownership rules. The engine that reads
// and writes property-set streams lives in storage/props/.
#pragma once

#include "ComBase.h"
#include "StorageApi.h"

typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef OLECHAR* BSTR;
typedef uint16_t VARTYPE;
typedef int16_t VARIANT_BOOL;
typedef LONG SCODE;
typedef double DATE;
typedef ULONG PROPID;
typedef float FLOAT;
typedef double DOUBLE;
typedef unsigned char UCHAR;

#define VARIANT_TRUE static_cast<VARIANT_BOOL>(-1)
#define VARIANT_FALSE static_cast<VARIANT_BOOL>(0)

// VARENUM (wtypes.h).
enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_FILETIME = 64,
  VT_BLOB = 65,
  VT_STREAM = 66,
  VT_STORAGE = 67,
  VT_STREAMED_OBJECT = 68,
  VT_STORED_OBJECT = 69,
  VT_BLOB_OBJECT = 70,
  VT_CF = 71,
  VT_CLSID = 72,
  VT_VERSIONED_STREAM = 73,
  VT_BSTR_BLOB = 0x0fff,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xffff,
  VT_ILLEGALMASKED = 0x0fff,
  VT_TYPEMASK = 0x0fff
};

// Reserved property ids.
#define PID_DICTIONARY 0x00000000u
#define PID_CODEPAGE 0x00000001u
#define PID_FIRST_USABLE 0x00000002u
#define PID_FIRST_NAME_DEFAULT 0x00000fffu
#define PID_LOCALE 0x80000000u
#define PID_MODIFY_TIME 0x80000001u
#define PID_SECURITY 0x80000002u
#define PID_BEHAVIOR 0x80000003u
#define PID_ILLEGAL 0xffffffffu
#define PID_MIN_READONLY 0x80000000u
#define PID_MAX_READONLY 0xbfffffffu

// Summary information property ids.
#define PIDSI_TITLE 0x00000002L
#define PIDSI_SUBJECT 0x00000003L
#define PIDSI_AUTHOR 0x00000004L
#define PIDSI_KEYWORDS 0x00000005L
#define PIDSI_COMMENTS 0x00000006L
#define PIDSI_TEMPLATE 0x00000007L
#define PIDSI_LASTAUTHOR 0x00000008L
#define PIDSI_REVNUMBER 0x00000009L
#define PIDSI_EDITTIME 0x0000000aL
#define PIDSI_LASTPRINTED 0x0000000bL
#define PIDSI_CREATE_DTM 0x0000000cL
#define PIDSI_LASTSAVE_DTM 0x0000000dL
#define PIDSI_PAGECOUNT 0x0000000eL
#define PIDSI_WORDCOUNT 0x0000000fL
#define PIDSI_CHARCOUNT 0x00000010L
#define PIDSI_THUMBNAIL 0x00000011L
#define PIDSI_APPNAME 0x00000012L
#define PIDSI_DOC_SECURITY 0x00000013L

// Document summary information property ids.
#define PIDDSI_CATEGORY 0x00000002
#define PIDDSI_PRESFORMAT 0x00000003
#define PIDDSI_BYTECOUNT 0x00000004
#define PIDDSI_LINECOUNT 0x00000005
#define PIDDSI_PARCOUNT 0x00000006
#define PIDDSI_SLIDECOUNT 0x00000007
#define PIDDSI_NOTECOUNT 0x00000008
#define PIDDSI_HIDDENCOUNT 0x00000009
#define PIDDSI_MMCLIPCOUNT 0x0000000A
#define PIDDSI_SCALE 0x0000000B
#define PIDDSI_HEADINGPAIR 0x0000000C
#define PIDDSI_DOCPARTS 0x0000000D
#define PIDDSI_MANAGER 0x0000000E
#define PIDDSI_COMPANY 0x0000000F
#define PIDDSI_LINKSDIRTY 0x00000010

// PID_BEHAVIOR flag.
#define PROPSET_BEHAVIOR_CASE_SENSITIVE 1

#define PROPSETFLAG_DEFAULT 0
#define PROPSETFLAG_NONSIMPLE 1
#define PROPSETFLAG_ANSI 2
#define PROPSETFLAG_UNBUFFERED 4
#define PROPSETFLAG_CASE_SENSITIVE 8

#define PRSPEC_INVALID 0xffffffffu
#define PRSPEC_LPWSTR 0
#define PRSPEC_PROPID 1

#define CP_WINUNICODE 1200

typedef struct tagBLOB {
  ULONG cbSize;
  BYTE* pBlobData;
} BLOB;

typedef struct tagCLIPDATA {
  ULONG cbSize;  // counts ulClipFmt and the data
  LONG ulClipFmt;
  BYTE* pClipData;
} CLIPDATA;

typedef union tagCY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
} CY;

struct tag_inner_PROPVARIANT;
typedef struct tag_inner_PROPVARIANT PROPVARIANT;

#define QV_COUNTED_ARRAY(name, type) \
  typedef struct tag##name {         \
    ULONG cElems;                    \
    type* pElems;                    \
  } name
QV_COUNTED_ARRAY(CAC, CHAR);
QV_COUNTED_ARRAY(CAUB, UCHAR);
QV_COUNTED_ARRAY(CAI, SHORT);
QV_COUNTED_ARRAY(CAUI, USHORT);
QV_COUNTED_ARRAY(CAL, LONG);
QV_COUNTED_ARRAY(CAUL, ULONG);
QV_COUNTED_ARRAY(CAH, LARGE_INTEGER);
QV_COUNTED_ARRAY(CAUH, ULARGE_INTEGER);
QV_COUNTED_ARRAY(CAFLT, FLOAT);
QV_COUNTED_ARRAY(CADBL, DOUBLE);
QV_COUNTED_ARRAY(CABOOL, VARIANT_BOOL);
QV_COUNTED_ARRAY(CASCODE, SCODE);
QV_COUNTED_ARRAY(CACY, CY);
QV_COUNTED_ARRAY(CADATE, DATE);
QV_COUNTED_ARRAY(CAFILETIME, FILETIME);
QV_COUNTED_ARRAY(CACLSID, CLSID);
QV_COUNTED_ARRAY(CACLIPDATA, CLIPDATA);
QV_COUNTED_ARRAY(CABSTR, BSTR);
QV_COUNTED_ARRAY(CALPSTR, LPSTR);
QV_COUNTED_ARRAY(CALPWSTR, LPWSTR);
QV_COUNTED_ARRAY(CAPROPVARIANT, PROPVARIANT);
#undef QV_COUNTED_ARRAY

// A typed value. Pointers it holds are owned by it and freed by
// PropVariantClear (CoTaskMemAlloc'd buffers, BSTRs for VT_BSTR).
struct tag_inner_PROPVARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    CHAR cVal;
    UCHAR bVal;
    SHORT iVal;
    USHORT uiVal;
    LONG lVal;
    ULONG ulVal;
    INT intVal;
    UINT uintVal;
    LARGE_INTEGER hVal;
    ULARGE_INTEGER uhVal;
    FLOAT fltVal;
    DOUBLE dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    FILETIME filetime;
    CLSID* puuid;
    CLIPDATA* pclipdata;
    BSTR bstrVal;
    BLOB blob;
    LPSTR pszVal;
    LPWSTR pwszVal;
    CAC cac;
    CAUB caub;
    CAI cai;
    CAUI caui;
    CAL cal;
    CAUL caul;
    CAH cah;
    CAUH cauh;
    CAFLT caflt;
    CADBL cadbl;
    CABOOL cabool;
    CASCODE cascode;
    CACY cacy;
    CADATE cadate;
    CAFILETIME cafiletime;
    CACLSID cauuid;
    CACLIPDATA caclipdata;
    CABSTR cabstr;
    CALPSTR calpstr;
    CALPWSTR calpwstr;
    CAPROPVARIANT capropvar;
  };
};

typedef struct tagPROPSPEC {
  ULONG ulKind;
  union {
    PROPID propid;
    LPOLESTR lpwstr;
  };
} PROPSPEC;

typedef struct tagSTATPROPSTG {
  LPOLESTR lpwstrName;  // CoTaskMemAlloc'd; the receiver frees it
  PROPID propid;
  VARTYPE vt;
} STATPROPSTG;

typedef struct tagSTATPROPSETSTG {
  FMTID fmtid;
  CLSID clsid;
  DWORD grfFlags;
  FILETIME mtime;
  FILETIME ctime;
  FILETIME atime;
  DWORD dwOSVersion;
} STATPROPSETSTG;

struct IEnumSTATPROPSTG : IUnknown {
  STDMETHOD(Next)(ULONG celt, STATPROPSTG* rgelt, ULONG* pceltFetched) PURE;
  STDMETHOD(Skip)(ULONG celt) PURE;
  STDMETHOD(Reset)() PURE;
  STDMETHOD(Clone)(IEnumSTATPROPSTG** ppenum) PURE;
};

struct IPropertyStorage : IUnknown {
  STDMETHOD(ReadMultiple)(ULONG cpspec, const PROPSPEC rgpspec[], PROPVARIANT rgpropvar[]) PURE;
  STDMETHOD(WriteMultiple)
  (ULONG cpspec, const PROPSPEC rgpspec[], const PROPVARIANT rgpropvar[], PROPID propidNameFirst) PURE;
  STDMETHOD(DeleteMultiple)(ULONG cpspec, const PROPSPEC rgpspec[]) PURE;
  STDMETHOD(ReadPropertyNames)(ULONG cpropid, const PROPID rgpropid[], LPOLESTR rglpwstrName[]) PURE;
  STDMETHOD(WritePropertyNames)(ULONG cpropid, const PROPID rgpropid[], const LPOLESTR rglpwstrName[]) PURE;
  STDMETHOD(DeletePropertyNames)(ULONG cpropid, const PROPID rgpropid[]) PURE;
  STDMETHOD(Commit)(DWORD grfCommitFlags) PURE;
  STDMETHOD(Revert)() PURE;
  STDMETHOD(Enum)(IEnumSTATPROPSTG** ppenum) PURE;
  STDMETHOD(SetTimes)(const FILETIME* pctime, const FILETIME* patime, const FILETIME* pmtime) PURE;
  STDMETHOD(SetClass)(REFCLSID clsid) PURE;
  STDMETHOD(Stat)(STATPROPSETSTG* pstatpsstg) PURE;
};

struct IEnumSTATPROPSETSTG;

struct IPropertySetStorage : IUnknown {
  STDMETHOD(Create)
  (REFFMTID rfmtid, const CLSID* pclsid, DWORD grfFlags, DWORD grfMode, IPropertyStorage** ppprstg) PURE;
  STDMETHOD(Open)(REFFMTID rfmtid, DWORD grfMode, IPropertyStorage** ppprstg) PURE;
  STDMETHOD(Delete)(REFFMTID rfmtid) PURE;
  STDMETHOD(Enum)(IEnumSTATPROPSETSTG** ppenum) PURE;
};

extern const IID IID_IPropertySetStorage;
extern const IID IID_IPropertyStorage;
extern const IID IID_IEnumSTATPROPSTG;
extern const FMTID FMTID_SummaryInformation;
extern const FMTID FMTID_DocSummaryInformation;
extern const FMTID FMTID_UserDefinedProperties;

// Frees what the value owns and sets it to VT_EMPTY. E_INVALIDARG for a
// null pointer; STG_E_INVALIDPARAMETER for a type it does not know, which it
// leaves untouched.
HRESULT PropVariantClear(PROPVARIANT* pvar);
HRESULT FreePropVariantArray(ULONG cVariants, PROPVARIANT* rgvars);

// Length-prefixed wide strings; null in gives null out.
BSTR SysAllocString(const OLECHAR* psz);
BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui);
void SysFreeString(BSTR bstrString);
UINT SysStringLen(BSTR pbstr);
