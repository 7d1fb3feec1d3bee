#include "pipeline/TranscodeDecoder.h"

#include "pipeline/TranscodeMemConnection.h"

CTranscodeReceiver* CTranscodeDecoder::SetReceiver(CTranscodeReceiver* next) {
  m_receiver = next;
  return next;
}

void CTranscodeDecoder::SetSource(CTranscodeMemConnection* connection, int32_t) {
  if (connection) connection->SetReceiver(this);
}
