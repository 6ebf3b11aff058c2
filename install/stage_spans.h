#pragma once
// The part of the progress bar each stage of the installation moves through.
// Every caller of the stages takes its spans from here.

struct StageSpan {
    int first;
    int last;
};

struct InstallationSpans {
    StageSpan partitionFormat;
    StageSpan bootloader;
    StageSpan deploy;
    int finished;  // the bar after a run without failure
};

constexpr InstallationSpans INSTALLATION_SPANS = {{0, 33}, {34, 66}, {67, 99}, 100};
