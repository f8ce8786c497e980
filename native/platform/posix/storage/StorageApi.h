// Structured storage (compound files) on Linux: the subset of ole32 the
// library calls, with the Windows meanings and HRESULTs. The engine lives in
// storage/.
#pragma once

#include "ComBase.h"

// STGM flags (values as in objbase.h).
#define STGM_DIRECT 0x00000000L
#define STGM_TRANSACTED 0x00010000L
#define STGM_SIMPLE 0x08000000L
#define STGM_READ 0x00000000L
#define STGM_WRITE 0x00000001L
#define STGM_READWRITE 0x00000002L
#define STGM_SHARE_DENY_NONE 0x00000040L
#define STGM_SHARE_DENY_READ 0x00000030L
#define STGM_SHARE_DENY_WRITE 0x00000020L
#define STGM_SHARE_EXCLUSIVE 0x00000010L
#define STGM_PRIORITY 0x00040000L
#define STGM_DELETEONRELEASE 0x04000000L
#define STGM_NOSCRATCH 0x00100000L
#define STGM_CREATE 0x00001000L
#define STGM_CONVERT 0x00020000L
#define STGM_FAILIFTHERE 0x00000000L
#define STGM_NOSNAPSHOT 0x00200000L
#define STGM_DIRECT_SWMR 0x00400000L

#define STGC_DEFAULT 0

// Storage HRESULTs.
#define STG_E_INVALIDFUNCTION static_cast<HRESULT>(0x80030001u)
#define STG_E_FILENOTFOUND static_cast<HRESULT>(0x80030002u)
#define STG_E_PATHNOTFOUND static_cast<HRESULT>(0x80030003u)
#define STG_E_TOOMANYOPENFILES static_cast<HRESULT>(0x80030004u)
#define STG_E_ACCESSDENIED static_cast<HRESULT>(0x80030005u)
#define STG_E_INVALIDHANDLE static_cast<HRESULT>(0x80030006u)
#define STG_E_INSUFFICIENTMEMORY static_cast<HRESULT>(0x80030008u)
#define STG_E_INVALIDPOINTER static_cast<HRESULT>(0x80030009u)
#define STG_E_NOMOREFILES static_cast<HRESULT>(0x80030012u)
#define STG_E_DISKISWRITEPROTECTED static_cast<HRESULT>(0x80030013u)
#define STG_E_SEEKERROR static_cast<HRESULT>(0x80030019u)
#define STG_E_WRITEFAULT static_cast<HRESULT>(0x8003001Du)
#define STG_E_READFAULT static_cast<HRESULT>(0x8003001Eu)
#define STG_E_SHAREVIOLATION static_cast<HRESULT>(0x80030020u)
#define STG_E_LOCKVIOLATION static_cast<HRESULT>(0x80030021u)
#define STG_E_FILEALREADYEXISTS static_cast<HRESULT>(0x80030050u)
#define STG_E_INVALIDPARAMETER static_cast<HRESULT>(0x80030057u)
#define STG_E_MEDIUMFULL static_cast<HRESULT>(0x80030070u)
#define STG_E_PROPSETMISMATCHED static_cast<HRESULT>(0x800300F0u)
#define STG_E_ABNORMALAPIEXIT static_cast<HRESULT>(0x800300FAu)
#define STG_E_INVALIDHEADER static_cast<HRESULT>(0x800300FBu)
#define STG_E_INVALIDNAME static_cast<HRESULT>(0x800300FCu)
#define STG_E_UNKNOWN static_cast<HRESULT>(0x800300FDu)
#define STG_E_UNIMPLEMENTEDFUNCTION static_cast<HRESULT>(0x800300FEu)
#define STG_E_INVALIDFLAG static_cast<HRESULT>(0x800300FFu)
#define STG_E_INUSE static_cast<HRESULT>(0x80030100u)
#define STG_E_NOTCURRENT static_cast<HRESULT>(0x80030101u)
#define STG_E_REVERTED static_cast<HRESULT>(0x80030102u)
#define STG_E_CANTSAVE static_cast<HRESULT>(0x80030103u)
#define STG_E_OLDFORMAT static_cast<HRESULT>(0x80030104u)
#define STG_E_OLDDLL static_cast<HRESULT>(0x80030105u)
#define STG_E_SHAREREQUIRED static_cast<HRESULT>(0x80030106u)
#define STG_E_NOTFILEBASEDSTORAGE static_cast<HRESULT>(0x80030107u)
#define STG_E_EXTANTMARSHALLINGS static_cast<HRESULT>(0x80030108u)
#define STG_E_DOCFILECORRUPT static_cast<HRESULT>(0x80030109u)
#define STG_E_BADBASEADDRESS static_cast<HRESULT>(0x80030110u)
#define STG_E_INCOMPLETE static_cast<HRESULT>(0x80030201u)
#define STG_E_TERMINATED static_cast<HRESULT>(0x80030202u)
#define STG_S_CONVERTED static_cast<HRESULT>(0x00030200u)

// The root storage of a compound file. Only the members the library calls.
struct IStorage : IUnknown {
  STDMETHOD(Commit)(DWORD grfCommitFlags) PURE;
};

// Single-writer / multiple-reader lock of a storage opened STGM_DIRECT_SWMR.
struct IDirectWriterLock : IUnknown {
  STDMETHOD(WaitForWriteAccess)(DWORD dwTimeout) PURE;
  STDMETHOD(ReleaseWriteAccess)() PURE;
  STDMETHOD(HaveWriteAccess)() PURE;
};

extern const IID IID_IStorage;
extern const IID IID_IDirectWriterLock;

HRESULT StgOpenStorage(const WCHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, void* snbExclude,
                       DWORD reserved, IStorage** ppstgOpen);
HRESULT StgCreateDocfile(const WCHAR* pwcsName, DWORD grfMode, DWORD reserved, IStorage** ppstgOpen);
// S_OK for a compound file, S_FALSE for another file, STG_E_FILENOTFOUND when missing.
HRESULT StgIsStorageFile(const WCHAR* pwcsName);
