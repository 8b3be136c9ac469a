// The 5810, the oldest chip of the family: its operations hand the job to the
// shared flows with no flash model, protection or eFuse steps of their own.
#pragma once

#include "chips/chipset.h"

class Download;

class CQN_WIFI_5810 : public CQN_WIFI_CHIPSET {
public:
    explicit CQN_WIFI_5810(Download* job) : m_job(job) {}
    ~CQN_WIFI_5810() override = default;

    bool download() override;
    bool read() override;
    bool erase() override;
    bool extra_operation() override { return false; }

private:
    Download* m_job;  // not owned; the job outlives the chip object
};
