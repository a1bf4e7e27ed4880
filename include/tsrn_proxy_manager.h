/*
 * TsrnProxyManager: which proxy a request to a URL must go through, and with
 * which credentials. For C and C++ callers of TsrnProxyManager.dll (the same
 * functions are exported by TsDLMUpdater.exe).
 *
 * Calling order: zero a ProxyInfo, fill a UserData, call tsrnGetProxyInfo,
 * use the answer according to the status, call tsrnProxyDeallocate. All
 * strings are UTF-8. The call blocks: automatic proxy detection can take
 * several seconds and each candidate proxy costs one HEAD request.
 */
#ifndef TSRN_PROXY_MANAGER_H
#define TSRN_PROXY_MANAGER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define TSRN_PROXY_IMPORT __declspec(dllimport)
#define TSRN_PROXY_CDECL __cdecl
#else
#define TSRN_PROXY_IMPORT
#define TSRN_PROXY_CDECL
#endif

/* The request, filled by the caller. */
typedef struct UserData {
  const char* url;      /* required, not empty */
  const char* user;     /* proxy user name, may be null */
  const char* password; /* proxy password, may be null */
#ifdef __cplusplus
  bool silent; /* non-zero: never show a dialog */
#else
  unsigned char silent; /* non-zero: never show a dialog */
#endif
} UserData;

/* The answer, zeroed by the caller. The strings belong to the caller after
 * the call and are released with tsrnProxyDeallocate. The credentials are
 * for authScheme only: send them with no other scheme. */
typedef struct ProxyInfo {
  char* user;          /* empty when authScheme is 0 */
  char* password;      /* empty when authScheme is 0 */
  char* server;        /* host name or address, IPv6 in brackets */
  char* serverPort;    /* decimal text */
  uint32_t authScheme; /* 0 none, 1 Basic, 2 Digest, 4 NTLM or Negotiate */
} ProxyInfo;

/* The statuses of tsrnGetProxyInfo. */
enum PMStatus {
  PM_STATUS_SUCCESS = 0,          /* ProxyInfo is filled */
  PM_STATUS_NO_PROXY = 1,         /* no proxy configured: connect directly */
  PM_STATUS_FAILURE = 2,          /* a system call or the proxy list failed,
                                     or the proxy rejected 3 credentials (or
                                     the dialog answered a rejected one) */
  PM_STATUS_INVALID_INPUT = 4,    /* null record, null or empty url */
  PM_STATUS_USER_CANCELLED = 5,   /* the credential dialog was cancelled */
  PM_STATUS_SILENT_MODE_ERROR = 6 /* credentials needed, dialog forbidden */
};

TSRN_PROXY_IMPORT int TSRN_PROXY_CDECL
tsrnGetProxyInfo(const UserData* userData, ProxyInfo* proxyInfo);

TSRN_PROXY_IMPORT void TSRN_PROXY_CDECL
tsrnProxyDeallocate(ProxyInfo* proxyInfo);

#ifdef __cplusplus
}
#endif

#endif /* TSRN_PROXY_MANAGER_H */
