// HRESULT texts outside FACILITY_WIN32 (those read as their Win32 code),
// sorted by value as unsigned numbers.
#include "SystemMessages.h"

namespace quorvane {
namespace posix {

extern const SystemMessage kHResultMessages[] = {
    {0x8000000A, "E_PENDING", L"The data needed to finish this operation is not available yet.\r\n"},
    {0x80004001, "E_NOTIMPL", L"The function is not implemented.\r\n"},
    {0x80004002, "E_NOINTERFACE", L"The interface asked for is not supported.\r\n"},
    {0x80004003, "E_POINTER", L"A pointer given is not valid.\r\n"},
    {0x80004004, "E_ABORT", L"The operation was called off before it finished.\r\n"},
    {0x80004005, "E_FAIL", L"The operation failed for a reason that was not given.\r\n"},
    {0x8000FFFF, "E_UNEXPECTED", L"An unexpected failure occurred.\r\n"},
    {0x80030001, "STG_E_INVALIDFUNCTION", L"The function cannot be carried out.\r\n"},
    {0x80030002, "STG_E_FILENOTFOUND", L"No file named %1 can be found.\r\n"},
    {0x80030003, "STG_E_PATHNOTFOUND", L"No path %1 can be found.\r\n"},
    {0x80030004, "STG_E_TOOMANYOPENFILES", L"Too many files are open to open %1.\r\n"},
    {0x80030005, "STG_E_ACCESSDENIED", L"Access to %1 is denied.\r\n"},
    {0x80030006, "STG_E_INVALIDHANDLE", L"An operation was attempted on an object that is not valid.\r\n"},
    {0x80030008, "STG_E_INSUFFICIENTMEMORY", L"There is not enough memory to finish the operation.\r\n"},
    {0x80030009, "STG_E_INVALIDPOINTER", L"A pointer given is not valid.\r\n"},
    {0x80030012, "STG_E_NOMOREFILES", L"The list has no further entries.\r\n"},
    {0x80030013, "STG_E_DISKISWRITEPROTECTED", L"The disk is protected against writing.\r\n"},
    {0x80030019, "STG_E_SEEKERROR", L"An error occurred while seeking in %1.\r\n"},
    {0x8003001D, "STG_E_WRITEFAULT", L"Writing %1 to the disk failed.\r\n"},
    {0x8003001E, "STG_E_READFAULT", L"Reading %1 from the disk failed.\r\n"},
    {0x80030020, "STG_E_SHAREVIOLATION", L"%1 cannot be reached because of a sharing violation.\r\n"},
    {0x80030021, "STG_E_LOCKVIOLATION", L"%1 cannot be reached because of a lock violation.\r\n"},
    {0x80030050, "STG_E_FILEALREADYEXISTS", L"A file named %1 is there already.\r\n"},
    {0x80030057, "STG_E_INVALIDPARAMETER", L"A parameter is not valid.\r\n"},
    {0x80030070, "STG_E_MEDIUMFULL", L"There is not enough room on the disk to finish the operation.\r\n"},
    {0x800300F0, "STG_E_PROPSETMISMATCHED", L"A property was written into a property set of another kind.\r\n"},
    {0x800300FA, "STG_E_ABNORMALAPIEXIT", L"A call into the storage functions ended in an abnormal way.\r\n"},
    {0x800300FB, "STG_E_INVALIDHEADER", L"%1 is not a compound file, or its header is damaged.\r\n"},
    {0x800300FC, "STG_E_INVALIDNAME", L"%1 is not an acceptable name.\r\n"},
    {0x800300FD, "STG_E_UNKNOWN", L"Something unexpected went wrong in the storage.\r\n"},
    {0x800300FE, "STG_E_UNIMPLEMENTEDFUNCTION", L"The storage does not provide that function.\r\n"},
    {0x800300FF, "STG_E_INVALIDFLAG", L"A flag is not valid.\r\n"},
    {0x80030100, "STG_E_INUSE", L"The object is busy and cannot be used now.\r\n"},
    {0x80030101, "STG_E_NOTCURRENT", L"The storage was changed after its last commit.\r\n"},
    {0x80030102, "STG_E_REVERTED", L"The object has gone away: its storage was reverted.\r\n"},
    {0x80030103, "STG_E_CANTSAVE", L"The storage cannot be saved.\r\n"},
    {0x80030104, "STG_E_OLDFORMAT", L"The compound file %1 was written by a storage version this one cannot read.\r\n"},
    {0x80030105, "STG_E_OLDDLL", L"The compound file %1 was written by a newer storage version than this one.\r\n"},
    {0x80030106, "STG_E_SHAREREQUIRED", L"This operation needs file sharing support, such as Share.exe, to be installed.\r\n"},
    {0x80030107, "STG_E_NOTFILEBASEDSTORAGE", L"The operation is not allowed on a storage that is not file-based.\r\n"},
    {0x80030108, "STG_E_EXTANTMARSHALLINGS", L"The operation is not allowed on an object with marshallings outstanding.\r\n"},
    {0x80030109, "STG_E_DOCFILECORRUPT", L"The compound file is damaged.\r\n"},
    {0x80030110, "STG_E_BADBASEADDRESS", L"The OLE32 library was loaded at an address other than its own.\r\n"},
    {0x80030111, "STG_E_DOCFILETOOLARGE", L"The compound file is larger than this storage can handle.\r\n"},
    {0x80030112, "STG_E_NOTSIMPLEFORMAT", L"The compound file was not made with the simple mode flag.\r\n"},
    {0x80030201, "STG_E_INCOMPLETE", L"The file download stopped before it was finished.\r\n"},
    {0x80030202, "STG_E_TERMINATED", L"The file download was stopped.\r\n"},
};
extern const size_t kHResultMessageCount = sizeof(kHResultMessages) / sizeof(kHResultMessages[0]);

}  // namespace posix
}  // namespace quorvane
