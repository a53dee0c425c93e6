// Resource ids of the consumer host's own resource script.
#pragma once

#define IDR_CONSUMER_MAIN 200
// Names no resource: the start-up that cannot load its toolbar.
#define IDR_CONSUMER_MISSING 201
#define ID_CONSUMER_OVERVIEW 40001
#define ID_CONSUMER_CONFIGURE 40002
// Far from XTRm's texts, so that its string block is the host's alone.
#define IDS_CONSUMER_OVERVIEW 3000
