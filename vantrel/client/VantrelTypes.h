// The value types of the client API, in one include: texts and text lists, node and frame
// ids, server ids, metadata blobs and dictionaries, operating-system facts and node events.
#pragma once

#include "vantrel/client/VantrelIds.h"
#include "vantrel/client/VantrelMetaData.h"
#include "vantrel/client/VantrelNodeEvent.h"
#include "vantrel/client/VantrelOS.h"
#include "vantrel/client/VantrelServerId.h"
#include "vantrel/client/VantrelStr.h"
