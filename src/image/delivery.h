/*
 * delivery.h - the routines that move lines through a buffered transfer,
 * chosen once per scan: where the pipeline's source lines come from, and
 * where its output goes.
 */
#ifndef SCANDRV_DELIVERY_H
#define SCANDRV_DELIVERY_H

/* Picks the source and delivery routines for the scan that is starting to
 * transfer, from its image kind, line format and binarization. */
void ChooseDeliveryRoutines();

#endif
