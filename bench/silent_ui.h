// The window side of an import run for the benchmarks: the archive and target directories as set,
// every option ticked but the commune conversion, every question answered Yes, nothing shown.
#pragma once

#include <string>

#include "convert/import_run.h"

namespace bench {

class SilentUi final : public convert::RunUi
{
public:
    std::string archive, target;
    bool succeeded = false;
    std::string ArchiveDirText() override { return archive; }
    void SetArchiveDirText(const std::string& t) override { archive = t; }
    std::string TargetDirText() override { return target; }
    void SetTargetDirText(const std::string& t) override { target = t; }
    bool CommuneConversionTicked() override { return false; }
    bool AssortmentsTicked() override { return true; }
    bool ParcelsTicked() override { return true; }
    bool RastersTicked() override { return true; }
    convert::Answer ShowMessage(const convert::Message&) override { return convert::Answer::Yes; }
    void ShowError(const std::string&) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void SetBusyCursor(bool) override {}
    void CloseAfterSuccess() override { succeeded = true; }
};

} // namespace bench
