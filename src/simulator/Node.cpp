#include "simulator/Node.h"

double Node::dataPacketSize = 0.0;
double Node::dataOverhead = 0.0;
double Node::ackSize = 0.0;
double Node::processingDelay = 0.0;
double Node::packetRate = 0.0;
