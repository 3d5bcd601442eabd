#include "services/LiveUpdate.h"

bool LiveUpdate::CheckForUpdate()
{
    return false;
}
