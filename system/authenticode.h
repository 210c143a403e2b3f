// Authenticode checks of executables, for the programs the launcher starts elevated.
#pragma once

#include <string>

// The display name of the certificate that signed the file, when its Authenticode signature
// verifies (WinVerifyTrust, no revocation check over the network); empty otherwise.
std::wstring VerifiedSigner(const std::wstring& file);

// Whether another program may be started elevated on the strength of its signature: always
// when this launcher is unsigned (a development or test build), else only when the program's
// signature verifies with the same signer's name as this launcher's.
bool SignedByOurPublisher(const std::wstring& file);
