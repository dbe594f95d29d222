// VantrelFrameInterface: the abstract frame client of a server (see VantrelFrameClientAPI).
#pragma once

class VantrelFrameInterface {
public:
    virtual ~VantrelFrameInterface();
};
