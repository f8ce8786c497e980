// Version.dll of the Linux build: GetFileVersionInfoSizeW,
// GetFileVersionInfoW and VerQueryValueW over the version resource of PE
// files (PeVersionResource.h). Every other file, an ELF program among them,
// has no version resource: the size query answers 0 with
// ERROR_RESOURCE_DATA_NOT_FOUND, as Windows answers for a file without one.
// VerQueryValueW knows the root block "\" (VS_FIXEDFILEINFO) only.
#pragma once

#include "../base/WinTypes.h"

#ifndef ERROR_RESOURCE_DATA_NOT_FOUND
#  define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#endif

#define VS_FFI_SIGNATURE 0xFEEF04BDu

typedef struct tagVS_FIXEDFILEINFO {
  DWORD dwSignature;
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
} VS_FIXEDFILEINFO;

// The bytes GetFileVersionInfoW needs; 0 with the reason when there are none.
DWORD GetFileVersionInfoSizeW(LPCWSTR lptstrFilename, DWORD* lpdwHandle);
// The resource into lpData, cut to dwLen bytes (its root length then says so);
// FALSE with ERROR_INSUFFICIENT_BUFFER when dwLen cannot hold that length.
BOOL GetFileVersionInfoW(LPCWSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData);
// lpSubBlock "\": *lplpBuffer points at the VS_FIXEDFILEINFO inside pBlock.
BOOL VerQueryValueW(LPCVOID pBlock, LPCWSTR lpSubBlock, LPVOID* lplpBuffer, UINT* puLen);
