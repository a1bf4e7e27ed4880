// Certificate helpers shared by the Win32 trust and certificate layers.
#pragma once

#include <windows.h>
// Include order matters: wincrypt.h needs windows.h first.
#include <wincrypt.h>

#include <string>
#include <vector>

#include "platform/certificates.h"
#include "platform/win32/owned.h"

namespace platform {

// Builds the chain of `end` for the extended key usage `usage` (an OID such
// as szOID_PKIX_KP_CODE_SIGNING) with the system's chain engine, offering
// the certificates of `extra` (may be null) as intermediates, and checks
// each link, the end certificate's usage and the root itself against the
// Root stores.
CertificateChain examineChain(const CERT_CONTEXT* end, HCERTSTORE extra,
                              const char* usage);

// The O and CN values of a certificate's subject, every attribute of the
// two types, in order, each rendered on its own (so a name split over two
// attributes never reads as one). Either output may be null.
void readSubjectNames(const CERT_INFO& certificate,
                      std::vector<std::wstring>* organisations,
                      std::vector<std::wstring>* commonNames);

}  // namespace platform
