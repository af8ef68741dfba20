// The byte layout of VNL2D32's shared data area, field by field, as one table
// that the Linux and the Windows builds (x64 and x86) both check: every
// process that maps the area, whichever build it comes from, must find each
// field at the same offset. (The header's static_asserts cover the main
// offsets at compile time; this table names every field and its size.)
#include "link/api/vnl2_shared_area.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace {

struct Field {
  const char* name;
  size_t offset;
  size_t size;
  size_t expectedOffset;
  size_t expectedSize;
};

#define TK_FIELD(member, offset, size) \
  Field { #member, offsetof(Vnl2SharedArea, member), sizeof(Vnl2SharedArea::member), offset, size }

TEST(Vnl2AreaLayout, EveryFieldHasItsOffsetAndSize) {
  const Field fields[] = {
      TK_FIELD(messageId, 0, 4),
      TK_FIELD(linkState, 4, 4),
      TK_FIELD(openCount, 8, 4),
      TK_FIELD(spare1, 12, 4),
      TK_FIELD(serviceOpen, 16, 20),
      TK_FIELD(spare2, 36, 4),
      TK_FIELD(recIndex, 40, 24),
      TK_FIELD(controlWindow, 64, 8),
      TK_FIELD(notifyEnabled, 72, 20),
      TK_FIELD(spare3, 92, 4),
      TK_FIELD(notifyWindow, 96, 40),
      TK_FIELD(linkName, 136, 16),
      TK_FIELD(processInformation, 152, 24),
      TK_FIELD(startupInformation, 176, 104),
      TK_FIELD(spare4, 280, 8),
      TK_FIELD(recQueue, 288, 6 * 32832),
      TK_FIELD(logMask, 197280, 4),
  };
  size_t end = 0;
  for (const Field& field : fields) {
    EXPECT_EQ(field.offset, field.expectedOffset) << field.name;
    EXPECT_EQ(field.size, field.expectedSize) << field.name;
    EXPECT_EQ(field.offset, end) << field.name << " does not follow the field before it";
    end = field.offset + field.size;
  }
  EXPECT_EQ(end, sizeof(Vnl2SharedArea));
  EXPECT_EQ(sizeof(Vnl2SharedArea), 197284u);
  EXPECT_EQ(alignof(Vnl2SharedArea), 4u);
}

TEST(Vnl2AreaLayout, ItsRecordsHaveTheirSizes) {
  EXPECT_EQ(sizeof(RecBlock), 2052u);
  EXPECT_EQ(offsetof(RecBlock, data), 4u);
  EXPECT_EQ(sizeof(RecQueue), 16u * 2052u);
  EXPECT_EQ(sizeof(Vnl2ProcessInformation), 24u);
  EXPECT_EQ(offsetof(Vnl2ProcessInformation, process), 0u);
  EXPECT_EQ(offsetof(Vnl2ProcessInformation, thread), 8u);
  EXPECT_EQ(offsetof(Vnl2ProcessInformation, processId), 16u);
  EXPECT_EQ(offsetof(Vnl2ProcessInformation, threadId), 20u);
}

}  // namespace
