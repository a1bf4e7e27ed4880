// What one run of the updater is asked to do, decided once from its command
// line and handed to the code that builds the run's steps and its log.
#pragma once

#include <string>

struct RunOptions {
  // The normal run, or the release check (judges the offered release and
  // changes nothing).
  enum class Mode { kUpdate, kCheck };
  Mode mode = Mode::kUpdate;
  // The working folder's name inside the temporary folder: the manifest,
  // the installer, its staged copies and the temporary log live there.
  std::wstring workingFolder = L"TsDLM";
  // The manifest a check fetches (a normal run takes the settings' one).
  std::string manifestUrl;
  // A manifest without a valid signature is refused (the settings'
  // require_signed_manifest, or a check's /require-signature).
  bool requireSignedManifest = false;

  bool isCheck() const { return mode == Mode::kCheck; }
};
