#pragma once

// Everything of the publisher layer in one include.
#include "platform/reactive/AnyPublisher.h"
#include "platform/reactive/Cancellable.h"
#include "platform/reactive/CurrentValueSubject.h"
#include "platform/reactive/Deferred.h"
#include "platform/reactive/Demand.h"
#include "platform/reactive/Empty.h"
#include "platform/reactive/Future.h"
#include "platform/reactive/Just.h"
#include "platform/reactive/PassthroughSubject.h"
#include "platform/reactive/Subscriber.h"
