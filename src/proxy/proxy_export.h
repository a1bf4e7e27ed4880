// How the proxy interface is exported. The proxy library is linked only into
// modules that export it (TsDLMUpdater.exe, TsrnProxyManager.dll) and into
// the tests, so on Windows it always exports.
#pragma once

#if defined(_WIN32)
#define TSRN_PROXY_EXPORT __declspec(dllexport)
#define TSRN_PROXY_CALL __cdecl
#else
#define TSRN_PROXY_EXPORT
#define TSRN_PROXY_CALL
#endif
